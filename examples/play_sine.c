/* A minimal application: connect to the generator, play a 1 Hz sine of 2 mV peak
 * to peak on all outputs for five seconds, and let go of the device.
 *   cc play_sine.c $(pkg-config --cflags --libs tavo) -o play_sine */
#include <stdio.h>
#include <unistd.h>

#include <tavo/tavo.h>

static void OnLeads(double outputTime, double signalTime, double* leads, bool last) {
    (void)signalTime;
    if (!last && (int)(outputTime * 1000) % 1000 == 0) printf("%4.1f s  lead I %+.3f mV\n", outputTime, leads[0]);
}

int main(void) {
    if (!TAVOConnect(-1, 10000)) {
        fprintf(stderr, "no generator found\n");
        return 1;
    }
    int status = 0;
    if (!TAVOLoadWaveform(WAVEFORM_SINE, 1.0, 2.0) || !TAVOOutputWaveform(0, OnLeads, NULL)) {
        fprintf(stderr, "cannot play\n");
        status = 1;
    } else {
        sleep(5);
        TAVOStopOutput();
    }
    TAVOFree();
    return status;
}
