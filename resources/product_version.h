// Version numbers shared by the version blocks of both programs.
#pragma once
#define PRODUCT_VERSION_NUMBERS 1,0,0,0
#define PRODUCT_VERSION_TEXT "1.0.0.0"
#define COMPANY_NAME_TEXT "Morquaine"
#define PRODUCT_NAME_TEXT "Morquaine QEV Scan"
