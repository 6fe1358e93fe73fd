#include "service/tasks.h"

#include "button/worker.h"

CWMI_EvtListener g_EvtListener;

void CWMI_EvtListener::Run() {
    WorkerMain();
}
