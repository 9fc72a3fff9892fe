#pragma once
#include <windows.h>
#include <wbemcli.h>

#include <string>
#include <vector>

#include "hotfix_format.h"

// The WMI calls of the hotfix step whose failures the step answers in its own
// way; tests give their own. The system's set passes the step's fixed
// arguments (proxy security, query flags, one object at a time, no time-out).
struct WmiCalls {
    HRESULT (*connectServer)(IWbemLocator* locator, BSTR wmiNamespace, IWbemServices** services);
    HRESULT (*setProxyBlanket)(IWbemServices* services);
    HRESULT (*execQuery)(IWbemServices* services, BSTR language, BSTR query,
                         IEnumWbemClassObject** objects);
    HRESULT (*nextObject)(IEnumWbemClassObject* objects, IWbemClassObject** object, ULONG* returned);
};

extern const WmiCalls SYSTEM_WMI_CALLS;

// Enters the multithreaded COM apartment on the calling thread and sets the
// process's COM security, for the WMI query of the hotfix step. Call it once
// on the worker thread; COM stays initialised until the process ends.
// 1 when both succeeded (an apartment or security set up earlier counts), else 0.
int InitializeWorkerCom();

// Adds "info\hotfixes.html" from the WMI hotfix list; connects to WMI on the
// first call (COM initialised by the caller). 1 when the page was added.
int AddHotfixList(const WmiCalls& calls = SYSTEM_WMI_CALLS);

// Runs the hotfix query on the open WMI connection and fills rows, one cell
// per column name. 0 (rows empty) when not connected or the query was refused.
int QueryHotfixRows(const std::vector<std::wstring>& columns, HotfixRowTable& rows,
                    const WmiCalls& calls = SYSTEM_WMI_CALLS);

// 1 once the WMI connection is open; it stays open until the program ends.
extern int wmiConnected;
