// Resource identifiers of dossierkit.
#pragma once

#define IDI_DOSSIERKIT 100
#define IDD_PROGRESS 129
#define IDC_PROGRESS 1000
#define IDC_LOG 1001
