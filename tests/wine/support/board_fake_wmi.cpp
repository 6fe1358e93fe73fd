#include "support/board_fake_wmi.h"

#include <windows.h>

#include <wbemcli.h>

#include <cwchar>
#include <map>

namespace wgbtest {

namespace {

// {CB8555CC-9128-11D1-AD9B-00C04FD8FDFF}
const CLSID kClsidWbemAdministrativeLocator = {
    0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};

FakeWmiFault g_fault = FakeWmiFault::None;
std::wstring g_product;
LONG g_live = 0;
LONG g_unexpected = 0;

bool Same(const wchar_t *actual, const wchar_t *expected) {
    return actual != nullptr && std::wcscmp(actual, expected) == 0;
}

// Counts the call as unexpected unless ok holds; gives whether it held.
bool Expect(bool ok) {
    if (!ok)
        InterlockedIncrement(&g_unexpected);
    return ok;
}

// Reference counting and QueryInterface for one interface.
template <typename Interface> class FakeObject : public Interface {
  public:
    explicit FakeObject(const IID &iid) : iid_(iid) { InterlockedIncrement(&g_live); }
    virtual ~FakeObject() { InterlockedDecrement(&g_live); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (object == nullptr)
            return E_POINTER;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, iid_)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface *>(this);
        this->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

  private:
    const IID iid_;
    LONG refs_ = 1;
};

class FakeBoard : public FakeObject<IWbemClassObject> {
  public:
    FakeBoard() : FakeObject(IID_IWbemClassObject) {}

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT *value, CIMTYPE *,
                                  LONG *) override {
        if (!Expect(Same(name, L"Product") && flags == 0 && value != nullptr) ||
            g_fault == FakeWmiFault::GetFails)
            return WBEM_E_NOT_FOUND;
        VariantInit(value);
        switch (g_fault) {
        case FakeWmiFault::ProductNull:
            V_VT(value) = VT_NULL;
            break;
        case FakeWmiFault::ProductNumber:
            V_VT(value) = VT_I4;
            V_I4(value) = 6231;
            break;
        default:
            V_VT(value) = VT_BSTR;
            V_BSTR(value) = SysAllocString(g_product.c_str());
            break;
        }
        return WBEM_S_NO_ERROR;
    }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT *, CIMTYPE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT *, SAFEARRAY **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR *, VARIANT *, CIMTYPE *, LONG *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject **,
                                        IWbemClassObject **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject *,
                                        IWbemClassObject *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR *, IWbemClassObject **,
                                         IWbemClassObject **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR *) override { return E_NOTIMPL; }
};

class FakeBoards : public FakeObject<IEnumWbemClassObject> {
  public:
    FakeBoards() : FakeObject(IID_IEnumWbemClassObject) {}

    HRESULT STDMETHODCALLTYPE Reset() override { return WBEM_S_NO_ERROR; }
    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject **objects,
                                   ULONG *returned) override {
        if (!Expect(timeout == static_cast<LONG>(WBEM_INFINITE) && count == 1 &&
                    objects != nullptr && returned != nullptr))
            return WBEM_E_INVALID_PARAMETER;
        *returned = 0;
        objects[0] = nullptr;
        if (g_fault == FakeWmiFault::NoObject)
            return WBEM_S_FALSE;
        objects[0] = new FakeBoard;
        *returned = 1;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return E_NOTIMPL; }
};

class FakeServices : public FakeObject<IWbemServices> {
  public:
    FakeServices() : FakeObject(IID_IWbemServices) {}

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                        IWbemContext *context,
                                        IEnumWbemClassObject **result) override {
        if (result != nullptr)
            *result = nullptr;
        if (!Expect(Same(language, L"WQL") && Same(query, L"Select * from Win32_Baseboard") &&
                    flags == WBEM_FLAG_RETURN_IMMEDIATELY && context == nullptr &&
                    result != nullptr) ||
            g_fault == FakeWmiFault::QueryFails)
            return WBEM_E_INVALID_QUERY;
        if (g_fault != FakeWmiFault::QueryNull)
            *result = new FakeBoards;
        return WBEM_S_NO_ERROR;
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext *, IWbemServices **,
                                            IWbemCallResult **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext *, IWbemClassObject **,
                                        IWbemCallResult **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext *,
                                             IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject *, LONG, IWbemContext *,
                                       IWbemCallResult **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject *, LONG, IWbemContext *,
                                            IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext *,
                                          IWbemCallResult **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext *,
                                               IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext *,
                                              IEnumWbemClassObject **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext *,
                                                   IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject *, LONG, IWbemContext *,
                                          IWbemCallResult **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject *, LONG, IWbemContext *,
                                               IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext *,
                                             IWbemCallResult **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext *,
                                                  IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext *,
                                                 IEnumWbemClassObject **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext *,
                                                      IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext *,
                                             IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext *,
                                                    IEnumWbemClassObject **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG,
                                                         IWbemContext *,
                                                         IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext *,
                                         IWbemClassObject *, IWbemClassObject **,
                                         IWbemCallResult **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext *,
                                              IWbemClassObject *, IWbemObjectSink *) override {
        return E_NOTIMPL;
    }
};

class FakeLocator : public FakeObject<IWbemLocator> {
  public:
    FakeLocator() : FakeObject(IID_IWbemLocator) {}

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR ns, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG securityFlags,
                                            const BSTR authority, IWbemContext *context,
                                            IWbemServices **services) override {
        if (services != nullptr)
            *services = nullptr;
        if (!Expect(Same(ns, L"root\\cimv2") && user == nullptr && password == nullptr &&
                    locale == nullptr && securityFlags == 0 && authority == nullptr &&
                    context == nullptr && services != nullptr) ||
            g_fault == FakeWmiFault::ConnectFails)
            return WBEM_E_INVALID_NAMESPACE;
        if (g_fault != FakeWmiFault::ConnectNull)
            *services = new FakeServices;
        return WBEM_S_NO_ERROR;
    }
};

// The class object lives for the whole process and is not counted.
class LocatorFactory : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (object == nullptr)
            return E_POINTER;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        if (g_fault == FakeWmiFault::NoLocator)
            return REGDB_E_CLASSNOTREG;
        FakeLocator *locator = new FakeLocator;
        const HRESULT hr = locator->QueryInterface(riid, object);
        locator->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

LocatorFactory g_factory;

} // namespace

bool ParseFakeWmiFault(const std::string &text, FakeWmiFault &fault) {
    static const std::map<std::string, FakeWmiFault> faults = {
        {"none", FakeWmiFault::None},
        {"no-locator", FakeWmiFault::NoLocator},
        {"connect-fails", FakeWmiFault::ConnectFails},
        {"connect-null", FakeWmiFault::ConnectNull},
        {"query-fails", FakeWmiFault::QueryFails},
        {"query-null", FakeWmiFault::QueryNull},
        {"no-object", FakeWmiFault::NoObject},
        {"get-fails", FakeWmiFault::GetFails},
        {"product-null", FakeWmiFault::ProductNull},
        {"product-number", FakeWmiFault::ProductNumber},
    };
    const auto it = faults.find(text);
    if (it == faults.end())
        return false;
    fault = it->second;
    return true;
}

FakeWmi::FakeWmi(FakeWmiFault fault, const std::wstring &product) {
    g_fault = fault;
    g_product = product;
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(kClsidWbemAdministrativeLocator, &g_factory,
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
        cookie_ = cookie;
}

FakeWmi::~FakeWmi() {
    if (cookie_ != 0)
        CoRevokeClassObject(cookie_);
}

int FakeWmiLiveObjects() {
    return static_cast<int>(g_live);
}
int FakeWmiUnexpectedCalls() {
    return static_cast<int>(g_unexpected);
}

} // namespace wgbtest
