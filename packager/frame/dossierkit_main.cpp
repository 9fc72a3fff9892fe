// dossierkit: builds the support package on the Desktop after a confirmation
// and offers to open the upload page.
#include <windows.h>
#include <commctrl.h>

#include "admin_check.h"
#include "package_worker.h"
#include "program_messages.h"
#include "progress_dialog.h"
#include "resource.h"
#include "shared_helpers.h"
#include "upload_page.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RestrictDllSearchToSystemDirectory();
    if (!IsAdministratorsMember()) {
        ShowProgramMessage(NOT_ADMINISTRATOR_TEXT, MB_ICONERROR);
        return 1;
    }
    if (ShowProgramMessage(CONFIRM_PACKAGE_TEXT, MB_ICONQUESTION | MB_YESNO) != IDYES)
        return 0;

    appInstance = instance;
    typedef void(WINAPI * InitCommonControlsFn)();
    InitCommonControlsFn initCommonControls = reinterpret_cast<InitCommonControlsFn>(
        reinterpret_cast<void*>(SystemLibraryFunction(L"comctl32.dll", "InitCommonControls")));
    if (initCommonControls != nullptr)
        initCommonControls();
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressDlgProc, 0);

    if (packageCreated == 0) {
        ShowProgramMessage(PACKAGE_FAILED_TEXT, MB_ICONERROR);
        return 0;
    }
    if (ShowProgramMessage(UploadOfferText().c_str(), MB_YESNO) == IDYES)
        OpenUploadPage();
    return 0;
}
