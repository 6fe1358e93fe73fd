#pragma once
// The task run by the worker thread.

class CRunable {
  public:
    virtual ~CRunable() = default;
    virtual void Run() = 0;
};

class CTask : public CRunable {
  public:
    void Run() override {}
    virtual void Hook1() {}
    virtual void Hook2() {}
};

// Watches the button: Run is the worker routine.
class CWMI_EvtListener : public CTask {
  public:
    void Run() override;
};

// The one task object, run by the worker thread.
extern CWMI_EvtListener g_EvtListener;
