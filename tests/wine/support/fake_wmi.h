#ifndef WGB_TESTS_FAKE_WMI_H
#define WGB_TESTS_FAKE_WMI_H
/* A fake WMI for the board probe: the baseboard query answers the product
 * "QX-Fake-6231 Rev 2", or fails at the step chosen. */

#ifdef __cplusplus
extern "C" {
#endif

enum {
    FAKE_WMI_NONE,
    FAKE_WMI_LOCATOR,
    FAKE_WMI_CONNECT,
    FAKE_WMI_QUERY,
    FAKE_WMI_NEXT,
    FAKE_WMI_GET
};

/* Registers the fake locator class in the calling thread's apartment, under
 * the administrative locator's class id; nonzero on success. */
int fake_wmi_register(int failing_step);
/* Fake objects handed out and not yet released. */
long fake_wmi_live(void);

#ifdef __cplusplus
}
#endif

#endif
