/* A C99 program that grades a generated pair through the installed library:
 * its only output on standard output is its own result line; the library's
 * lines go to its handler. Exit status 0 when everything checks out. */
#include <velumar/model.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#define SECONDS 2
#define SAMPLES (48000 * SECONDS)
#define BLOCK 4096

static int16_t reference[SAMPLES];
static int16_t test[SAMPLES];

static void on_line(void *user, const char *text)
{
    unsigned *lines = (unsigned *)user;
    ++*lines;
    fprintf(stderr, "library: %s", text);
}

/* A two-tone signal and a copy with a deterministic noise added. */
static void make_signals(void)
{
    unsigned long seed = 12345;
    long i;
    for (i = 0; i < SAMPLES; ++i) {
        const double t = (double)i / 48000.0;
        const double x = 9000.0 * sin(2.0 * 3.141592653589793 * 440.0 * t) +
                         4000.0 * sin(2.0 * 3.141592653589793 * 3100.0 * t);
        seed = seed * 1103515245UL + 12345UL;
        reference[i] = (int16_t)x;
        test[i] = (int16_t)(x + (double)((long)((seed >> 16) & 0x7ff) - 1024));
    }
}

static int fail(const char *what)
{
    fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

int main(void)
{
    M_SETTINGS settings;
    M_RESULTS results;
    M_HANDLE h;
    unsigned lines = 0;
    long done;

    if (strcmp(velumar_version(), VELUMAR_VERSION_STRING) != 0) return fail("header and library versions differ");
    if (VELUMAR_VERSION_MAJOR < 1) return fail("no version macros");

    make_signals();
    memset(&settings, 0, sizeof settings);
    settings.version = 0;
    settings.listening_level_db = 92.0;
    settings.sample_rate = 48000;
    settings.channel_mode = 0;
    h = velumar_create_method_ex(&settings, on_line, &lines);
    if (h == NULL) return fail("creation failed");
    for (done = 0; done < SAMPLES; done += BLOCK) {
        M_BUFFER r, t;
        r.samples = reference + done;
        t.samples = test + done;
        r.count = t.count = (uint32_t)(SAMPLES - done < BLOCK ? SAMPLES - done : BLOCK);
        if (velumar_method(h, &r, &t) != 0) return fail("a block was not consumed");
    }
    if (velumar_get_model_results(h, &results) != 0) return fail("no grade");
    if (velumar_destroy_method(h) != 0) return fail("release failed");
    if (results.frames != (SAMPLES - 2048) / 1024 + 1) return fail("wrong frame count");
    if (!(results.odg >= -3.98 && results.odg <= 0.22) || results.odg > -0.1) return fail("grade out of range");
    if (lines != 1) return fail("the handler did not get exactly the level line");
    printf("graded %u frames, ODG %.3f, %s %s\n", (unsigned)results.frames, results.odg,
           velumar_get_mov_name(M_MOV_TOTAL_NMR), velumar_version());
    return 0;
}
