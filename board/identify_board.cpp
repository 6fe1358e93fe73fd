#include "board/identify_board.h"

#include "board/board_list.h"
#include "common/ansi_text.h"
#include "common/com_ptr.h"
#include "common/shared_state.h"

#include <windows.h>

#include <wbemcli.h>

#include <cstdint>

std::string g_strBoard;

const WmiClock kWindowsClock = {[]() -> unsigned long { return GetTickCount(); },
                                [](unsigned long ms) { Sleep(ms); }};

namespace {

// {CB8555CC-9128-11D1-AD9B-00C04FD8FDFF}
const CLSID kClsidWbemAdministrativeLocator = {
    0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};

constexpr wchar_t kNamespace[] = L"root\\cimv2";
constexpr wchar_t kQueryLanguage[] = L"WQL";
constexpr wchar_t kBaseboardQuery[] = L"Select * from Win32_Baseboard";
constexpr wchar_t kProductProperty[] = L"Product";
constexpr char kBoardSection[] = "MainBoard";
// At most 255 characters of a value are read.
constexpr DWORD kIniValueBufferSize = 256;
// WMI may hold a query back while it starts; waiting longer than this counts
// as a failed try.
constexpr long kNextTimeoutMs = 30000;
constexpr unsigned long kRunFlagLookMs = 100;

// Uninitialises COM at the end of its scope, after every interface is
// released; only an initialisation that succeeded is undone, so that a thread
// already in another apartment keeps it.
class ComApartment {
  public:
    ComApartment() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;
    ~ComApartment() {
        if (initialised_)
            CoUninitialize();
    }

  private:
    const bool initialised_;
};

// UTF-16 text to the ANSI code page, up to its first NUL. A null BSTR is the
// empty text.
bool ToAnsi(const wchar_t *text, std::string &ansi) {
    if (!text) {
        ansi.clear();
        return true;
    }
    const std::wstring wide(text);
    std::string converted = AnsiFromWide(wide);
    if (!wide.empty() && converted.empty())
        return false;
    ansi = std::move(converted);
    return true;
}

bool VariantToAnsi(VARIANT *value, std::string &ansi) {
    if (V_VT(value) != VT_BSTR && FAILED(VariantChangeType(value, value, 0, VT_BSTR)))
        return false;
    return ToAnsi(V_BSTR(value), ansi);
}

// One try: locator, connection, query and its first result, each released on
// every path. A failure of any of these steps may pass while WMI starts.
WmiAnswer QueryBaseboardProduct(std::string &productText) {
    // Destroyed in reverse: the value is cleared first, then the locator, the
    // services object, the enumerator and the result object are released.
    ComPtr<IWbemClassObject> board;
    ComPtr<IEnumWbemClassObject> boards;
    ComPtr<IWbemServices> services;
    ComPtr<IWbemLocator> locator;
    UniqueVariant product;

    if (FAILED(CoCreateInstance(kClsidWbemAdministrativeLocator, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IWbemLocator,
                                locator.put_void())) ||
        !locator)
        return WmiAnswer::Failed;

    // Bounded too: with this flag Windows gives up on a connection after about
    // 2 minutes.
    if (FAILED(locator->ConnectServer(UniqueBstr(kNamespace).get(), nullptr, nullptr, nullptr,
                                      WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr,
                                      services.put())) ||
        !services)
        return WmiAnswer::Failed;

    if (FAILED(services->ExecQuery(UniqueBstr(kQueryLanguage).get(),
                                   UniqueBstr(kBaseboardQuery).get(), WBEM_FLAG_RETURN_IMMEDIATELY,
                                   nullptr, boards.put())) ||
        !boards)
        return WmiAnswer::Failed;

    // A fresh enumerator starts at its beginning: no Reset, a call into
    // winmgmt that nothing bounds.
    ULONG returned = 0;
    const HRESULT next = boards->Next(kNextTimeoutMs, 1, board.put(), &returned);
    // WBEM_S_FALSE with no object: the enumeration completed empty, an answer
    // that asking again cannot change. A timeout (WBEM_S_TIMEDOUT) or a
    // failed call is a failed try.
    if (next == WBEM_S_FALSE && returned == 0)
        return WmiAnswer::NoBaseboard;
    if (returned != 1 || !board)
        return WmiAnswer::Failed;

    HRESULT got;
    {
        const UniqueBstr name(kProductProperty);
        got = board->Get(name.get(), 0, product.get(), nullptr, nullptr);
    }
    if (FAILED(got) || !VariantToAnsi(product.get(), productText))
        return WmiAnswer::NoProductText;
    return WmiAnswer::Product;
}

// The process's COM security, which Windows allows to be set once.
bool SetComSecurity() {
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr) == S_OK;
}

// Waits before the next try; false as soon as the service is told to end.
bool PauseUnlessStopped(unsigned long pauseMs, const WmiClock &clock) {
    for (unsigned long waited = 0; waited < pauseMs; waited += kRunFlagLookMs) {
        if (!g_bRunning.load())
            return false;
        clock.sleepMs(kRunFlagLookMs);
    }
    return g_bRunning.load();
}

// Tries the query until WMI answers or the run flag falls.
WmiAnswer WaitForBaseboardProduct(std::string &productText, const WmiClock &clock) {
    const ComApartment apartment;
    if (!SetComSecurity())
        return WmiAnswer::Failed;

    std::uint64_t elapsedMs = 0;
    unsigned long last = clock.nowMs();
    for (;;) {
        const WmiAnswer answer = QueryBaseboardProduct(productText);
        if (answer != WmiAnswer::Failed)
            return answer;
        // Summed step by step, so that a count that wraps still adds up.
        const unsigned long now = clock.nowMs();
        elapsedMs += now - last;
        last = now;
        if (!PauseUnlessStopped(WmiRetryPauseMs(elapsedMs), clock))
            return WmiAnswer::Failed;
    }
}

} // namespace

std::string ReadBoardListKey(const std::string &key) {
    return ReadBoardListKeyIn(g_szIniPath, key);
}

std::string ReadBoardListKeyIn(const std::string &iniPath, const std::string &key) {
    char value[kIniValueBufferSize] = {};
    GetPrivateProfileStringA(kBoardSection, key.c_str(), "", value, kIniValueBufferSize,
                             iniPath.c_str());
    return value;
}

WmiAnswer ReadBaseboardProduct(std::string &productText) {
    const ComApartment apartment;
    if (!SetComSecurity())
        return WmiAnswer::Failed;
    return QueryBaseboardProduct(productText);
}

int IdentifyBoard(const WmiClock &clock) {
    std::string productText;
    if (WaitForBaseboardProduct(productText, clock) != WmiAnswer::Product)
        return 0;
    g_strBoard = productText;
    return MatchBoardList(g_strBoard, ReadBoardListKey);
}
