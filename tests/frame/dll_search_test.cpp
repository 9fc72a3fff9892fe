// The elevated program takes DLLs that system libraries load by name from the
// system directory only: a DLL of such a name beside it is never loaded.
#include <gtest/gtest.h>

#include "test_support.h"

// Wine's user32 loads uxtheme.dll by name when the first box is shown.
TEST(DllSearch, DllPlantedBesideDossierkitIsNotLoaded) {
    testsupport::PlantedDllRun control =
        testsupport::RunBesidePlantedDll(L"planted_dll_control.exe", L"uxtheme.dll", L"Planted DLL control");
    ASSERT_TRUE(control.answered && control.loaded)
        << "a program that does not restrict its search loads the planted DLL: " << control.answered << control.loaded;
    testsupport::PlantedDllRun run =
        testsupport::RunBesidePlantedDll(L"dossierkit.exe", L"uxtheme.dll", L"Morquaine QEV Scan ZRPK Creator");
    EXPECT_TRUE(run.answered) << "the question was shown";
    EXPECT_FALSE(run.loaded);
}
