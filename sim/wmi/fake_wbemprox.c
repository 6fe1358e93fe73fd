/* WMI's provider as a program given it instead of Wine's (a DLL override for
 * that program alone) sees it: the fake of fake_wmi.c whose baseboard
 * has no product text, as on a board whose maker left it out. */
#define CINTERFACE
#include <windows.h>

#include <objbase.h>

#include <limits.h>

IUnknown *fake_wmi_factory(int failing_step, long failing_tries);

/* Whatever class is asked for: only the locator is. */
__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **out) {
    IUnknown *factory = fake_wmi_factory(5 /* the product's Get */, LONG_MAX);
    (void)clsid;
    return factory->lpVtbl->QueryInterface(factory, riid, out);
}
