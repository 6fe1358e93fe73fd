// The Wine session that run-in-wine makes: a logged-on user and a baseboard
// product text that the test chooses.

#include "support/wine_env.h"

#include <gtest/gtest.h>

#include <wbemidl.h>

namespace {

// The baseboard's "Product" as WMI reports it, through a fresh connection.
std::string WmiBaseboardProduct() {
    std::string product;
    IWbemLocator *locator = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void **>(&locator))))
        return "<no locator>";
    IWbemServices *services = nullptr;
    BSTR ns = SysAllocString(L"root\\cimv2");
    HRESULT hr =
        locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    SysFreeString(ns);
    if (SUCCEEDED(hr)) {
        IEnumWbemClassObject *objects = nullptr;
        BSTR language = SysAllocString(L"WQL");
        BSTR query = SysAllocString(L"Select * from Win32_BaseBoard");
        hr = services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY, nullptr, &objects);
        SysFreeString(language);
        SysFreeString(query);
        if (SUCCEEDED(hr)) {
            IWbemClassObject *board = nullptr;
            ULONG count = 0;
            if (objects->Next(WBEM_INFINITE, 1, &board, &count) == S_OK && count == 1) {
                VARIANT value;
                VariantInit(&value);
                if (SUCCEEDED(board->Get(L"Product", 0, &value, nullptr, nullptr)) &&
                    value.vt == VT_BSTR) {
                    char text[512] = {};
                    WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, text, sizeof text, nullptr,
                                        nullptr);
                    product = text;
                }
                VariantClear(&value);
                board->Release();
            }
            objects->Release();
        }
        services->Release();
    }
    locator->Release();
    return product;
}

TEST(WineSession, HasALoggedOnUser) {
    EXPECT_TRUE(
        wgbtest::WaitUntil([] { return !wgbtest::ProcessesNamed("explorer.exe").empty(); }));
}

TEST(WineSession, WmiReportsTheBaseboardProductTheTestChose) {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    for (const char *product : {"QTR-B760M-6231 Rev 1.0", "Board with ; and blanks  "}) {
        wgbtest::SetBoardProduct(product);
        EXPECT_EQ(product, WmiBaseboardProduct());
    }
    CoUninitialize();
}

} // namespace
