#pragma once
// A fake WMI for the board probe: a class object registered in the calling
// thread's apartment under the administrative locator's class id, whose
// objects answer the baseboard query or fail at a chosen step. Every fake
// object is counted while alive, so that a test sees whether each interface
// handed out was released.

#include <string>

namespace wgbtest {

enum class FakeWmiFault {
    None,          // the baseboard's "Product" is the given text
    NoLocator,     // the locator cannot be created
    ConnectFails,  // ConnectServer fails
    ConnectNull,   // ConnectServer succeeds without a services object
    QueryFails,    // ExecQuery fails
    QueryNull,     // ExecQuery succeeds without an enumerator
    NoObject,      // Next returns no object
    GetFails,      // Get("Product") fails
    ProductNull,   // "Product" is VT_NULL
    ProductNumber, // "Product" is the VT_I4 number 6231
};

// The fault named by text ("none", "no-locator", ...); false when unknown.
bool ParseFakeWmiFault(const std::string &text, FakeWmiFault &fault);

// Registers the fake while alive. COM must be initialised on the thread.
class FakeWmi {
  public:
    FakeWmi(FakeWmiFault fault, const std::wstring &product);
    FakeWmi(const FakeWmi &) = delete;
    FakeWmi &operator=(const FakeWmi &) = delete;
    ~FakeWmi();

    bool registered() const { return cookie_ != 0; }

  private:
    unsigned long cookie_ = 0;
};

// Fake objects alive now, the class object excluded.
int FakeWmiLiveObjects();
// Calls whose arguments differ from the baseboard query's (these calls fail).
int FakeWmiUnexpectedCalls();

} // namespace wgbtest
