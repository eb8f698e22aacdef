/* head-status: connects to a Quorvex head unit, prints where its aperture
 * wheels stand and its four temperatures, and disconnects, in C with nothing
 * but QuorvexDll's C exports.
 *
 *   head-status COM    e.g. `head-status 1` with quorvex-sim running */
#include <QuorvexDll/QuorvexDll.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Usage(FILE* out) {
    fprintf(out,
            "Usage: head-status COM\n"
            "Prints the aperture position and the temperatures of the Quorvex head unit\n"
            "at COM port number COM.\n");
    return out == stdout ? 0 : 2;
}

int main(int argc, char** argv) {
    if (argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) return Usage(stdout);
    if (argc != 2) return Usage(stderr);
    char* end = NULL;
    const long com = strtol(argv[1], &end, 10);
    if (*end != '\0' || com < 1 || com > INT_MAX) return Usage(stderr);

    /* The head talks 9600 baud, 8 data bits, no parity, 1 stop bit; the
     * call waits until the unit has identified itself. */
    void* head = NULL;
    if (Quorvex_Connect((int)com, 9600, NOPARITY, 8, ONESTOPBIT, SERIAL_FLOW_NONE, &head, 1, NULL) !=
        QuorvexSuccess) {
        fprintf(stderr, "No Quorvex head unit answered on COM%ld\n", com);
        return 1;
    }

    int status = 0;
    int position[2]; /* primary, secondary */
    if (Quorvex_GetPosition(head, position) == QuorvexSuccess) {
        printf("Aperture: primary %d, secondary %d\n", position[0], position[1]);
    } else {
        fprintf(stderr, "The head unit did not report its position\n");
        status = 1;
    }
    double t[4]; /* primary motor, secondary motor, bulb enclosure, motor enclosure */
    if (Quorvex_GetTemperature(head, t) == QuorvexSuccess) {
        printf("Temperatures (deg C): primary motor %.1f, secondary motor %.1f, bulb enclosure %.1f, "
               "motor enclosure %.1f\n",
               t[0], t[1], t[2], t[3]);
    } else {
        fprintf(stderr, "The head unit did not report its temperatures\n");
        status = 1;
    }

    Quorvex_Disconnect(&head, 1, NULL);
    return status;
}
