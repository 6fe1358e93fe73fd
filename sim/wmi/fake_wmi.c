/* A fake WMI for the board probe: the baseboard query answers the product
 * "QX-Fake-6231 Rev 2", or fails at the step chosen. A connection, a
 * synchronous query or a Next asked to wait without a positive bound is
 * refused: a WMI that is busy rebuilding might never answer it. So is a
 * Reset, which nothing bounds: after one, Next fails. Each fake object
 * carries the C vtable of the interface it stands for, with only the methods
 * the query may call. */
#define CINTERFACE
#include <windows.h>

#include <wbemcli.h>

#include <stdlib.h>

/* The steps at which the fake can fail (none fails with 0), and what each
 * answers then: NEXT times out, NEXT_EMPTY completes without a baseboard,
 * NEXT_FAILS fails. */
enum { LOCATOR = 1, CONNECT, QUERY, NEXT, GET, NEXT_EMPTY, NEXT_FAILS };
static const HRESULT g_failure[] = {[LOCATOR] = REGDB_E_CLASSNOTREG,
                                    [CONNECT] = WBEM_E_INVALID_NAMESPACE,
                                    [QUERY] = WBEM_E_INVALID_QUERY,
                                    [NEXT] = WBEM_S_TIMEDOUT,
                                    [GET] = WBEM_E_NOT_FOUND,
                                    [NEXT_EMPTY] = WBEM_S_FALSE,
                                    [NEXT_FAILS] = WBEM_E_INVALID_PARAMETER};

/* The fakes implement fixed signatures and look at few of their arguments. */
#pragma GCC diagnostic ignored "-Wunused-parameter"

struct fake {
    const void *vtbl;
    LONG refs;
    const IID *iid;
};

static int g_failing_step;
static long g_failing_tries;
/* Tries of the query so far, and fake objects handed out and not yet
 * released. */
LONG fake_wmi_tries;
LONG fake_wmi_live;

static HRESULT STDMETHODCALLTYPE fake_query_interface(struct fake *f, REFIID riid, void **out) {
    *out = NULL;
    if (!IsEqualIID(riid, &IID_IUnknown) && !IsEqualIID(riid, f->iid))
        return E_NOINTERFACE;
    InterlockedIncrement(&f->refs);
    *out = f;
    return S_OK;
}

static ULONG STDMETHODCALLTYPE fake_add_ref(struct fake *f) {
    return InterlockedIncrement(&f->refs);
}

static ULONG STDMETHODCALLTYPE fake_release(struct fake *f) {
    LONG left = InterlockedDecrement(&f->refs);
    if (left == 0) {
        InterlockedDecrement(&fake_wmi_live);
        free(f);
    }
    return left;
}

/* The step's failure during the first tries, else S_OK. */
static HRESULT failure(int step) {
    return g_failing_step == step && fake_wmi_tries <= g_failing_tries ? g_failure[step] : S_OK;
}
static void *fake_new(const void *vtbl, const IID *iid) {
    struct fake *f = malloc(sizeof *f);
    f->vtbl = vtbl;
    f->refs = 1;
    f->iid = iid;
    InterlockedIncrement(&fake_wmi_live);
    return f;
}

#define FAKE_UNKNOWN                                                                               \
    .QueryInterface = (void *)fake_query_interface, .AddRef = (void *)fake_add_ref,                \
    .Release = (void *)fake_release

static HRESULT STDMETHODCALLTYPE board_get(IWbemClassObject *self, LPCWSTR name, LONG flags,
                                           VARIANT *value, CIMTYPE *type, LONG *flavor) {
    if (failure(GET))
        return failure(GET);
    VariantInit(value);
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = SysAllocString(L"QX-Fake-6231 Rev 2");
    return WBEM_S_NO_ERROR;
}
static IWbemClassObjectVtbl board_vtbl = {FAKE_UNKNOWN, .Get = board_get};

static int g_reset;
static HRESULT STDMETHODCALLTYPE boards_reset(IEnumWbemClassObject *self) {
    g_reset = 1;
    return WBEM_S_NO_ERROR;
}
static HRESULT STDMETHODCALLTYPE boards_next(IEnumWbemClassObject *self, LONG timeout, ULONG count,
                                             IWbemClassObject **objects, ULONG *returned) {
    *returned = 0;
    objects[0] = NULL;
    if (timeout <= 0 || g_reset)
        return WBEM_E_INVALID_PARAMETER;
    if (failure(NEXT) || failure(NEXT_EMPTY) || failure(NEXT_FAILS))
        return g_failure[g_failing_step];
    *returned = 1;
    objects[0] = fake_new(&board_vtbl, &IID_IWbemClassObject);
    return WBEM_S_NO_ERROR;
}
static IEnumWbemClassObjectVtbl boards_vtbl = {FAKE_UNKNOWN, .Reset = boards_reset,
                                               .Next = boards_next};

static HRESULT STDMETHODCALLTYPE services_exec_query(IWbemServices *self, BSTR language, BSTR query,
                                                     LONG flags, IWbemContext *context,
                                                     IEnumWbemClassObject **result) {
    if (failure(QUERY) || !(flags & WBEM_FLAG_RETURN_IMMEDIATELY))
        return g_failure[QUERY];
    *result = fake_new(&boards_vtbl, &IID_IEnumWbemClassObject);
    return WBEM_S_NO_ERROR;
}
static IWbemServicesVtbl services_vtbl = {FAKE_UNKNOWN, .ExecQuery = services_exec_query};

static HRESULT STDMETHODCALLTYPE locator_connect(IWbemLocator *self, BSTR ns, BSTR user,
                                                 BSTR password, BSTR locale, LONG flags,
                                                 BSTR authority, IWbemContext *context,
                                                 IWbemServices **services) {
    if (failure(CONNECT) || !(flags & WBEM_FLAG_CONNECT_USE_MAX_WAIT))
        return g_failure[CONNECT];
    *services = fake_new(&services_vtbl, &IID_IWbemServices);
    return WBEM_S_NO_ERROR;
}
static IWbemLocatorVtbl locator_vtbl = {FAKE_UNKNOWN, .ConnectServer = locator_connect};

/* Asked for the locator, or for IUnknown, which the locator also is. */
static HRESULT STDMETHODCALLTYPE factory_create(IClassFactory *self, IUnknown *outer, REFIID riid,
                                                void **out) {
    *out = NULL;
    InterlockedIncrement(&fake_wmi_tries); /* each try of the query begins here */
    if (failure(LOCATOR))
        return failure(LOCATOR);
    *out = fake_new(&locator_vtbl, &IID_IWbemLocator);
    return S_OK;
}
static HRESULT STDMETHODCALLTYPE factory_lock(IClassFactory *self, BOOL lock) {
    return S_OK;
}
static IClassFactoryVtbl factory_vtbl = {FAKE_UNKNOWN, .CreateInstance = factory_create,
                                         .LockServer = factory_lock};
/* Held for the whole process: its count never drops to zero, and it is not
 * one of the live objects. */
static struct fake g_factory = {&factory_vtbl, 1, &IID_IClassFactory};

/* The fake locator's class factory, failing at the step chosen during the
 * first failing_tries tries. */
IUnknown *fake_wmi_factory(int failing_step, long failing_tries) {
    g_failing_step = failing_step;
    g_failing_tries = failing_tries;
    return (IUnknown *)&g_factory;
}

/* Registers the fake locator class in the calling thread's apartment, under
 * the administrative locator's class id; nonzero on success. */
int fake_wmi_register(int failing_step, long failing_tries) {
    /* {CB8555CC-9128-11D1-AD9B-00C04FD8FDFF} */
    static const CLSID administrative_locator = {
        0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};
    DWORD cookie = 0;
    return SUCCEEDED(CoRegisterClassObject(&administrative_locator,
                                           fake_wmi_factory(failing_step, failing_tries),
                                           CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie));
}
