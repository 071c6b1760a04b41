/*
 * velumar/model.h - objective measurement of perceived audio quality
 * (basic model version): the whole public interface of the model library.
 *
 * Usage:
 *
 *   M_SETTINGS s = {0};
 *   s.version = 0;                  // basic model
 *   s.listening_level_db = 92.0;
 *   s.sample_rate = 48000;
 *   s.channel_mode = 1;             // two interleaved channels
 *   M_HANDLE h = velumar_create_method_ex(&s, my_lines, my_context);
 *   while (more blocks)              // same count for both signals
 *       if (velumar_method(h, &ref_block, &test_block) != 0) ...fatal...
 *   double odg = velumar_get_objective_difference_grade(h);
 *   velumar_destroy_method(h);
 *
 * Names: every call has a velumar_ name. The short names (create_method,
 * method, get_objective_difference_grade, destroy_method,
 * get_default_settings, get_model_results, get_mov_name) are the same calls;
 * a program that defines VELUMAR_NO_SHORT_NAMES before including this header
 * sees only the velumar_ names, and may then use the short names for its own
 * things (the library never calls them itself).
 *
 * Units: sample counts always count 16-bit values of all channels together
 * (a stereo block of n sample pairs has count 2n). Levels are in dB.
 *
 * Diagnostics: every failure prints exactly one line before the function
 * reports it; creation also prints one informational line with the
 * listening level. The library writes nothing else. The lines go to the
 * instance's message handler when it was created with one
 * (velumar_create_method_ex), otherwise to standard output; lines about a
 * call without an instance (a NULL handle) go to standard output.
 *
 * Threads: the library has no global mutable state; any number of
 * instances may exist, each used by one thread at a time.
 */
#ifndef VELUMAR_MODEL_H
#define VELUMAR_MODEL_H

#include <stdint.h>

#include <velumar/model_version.h>

/* What the shared library exports; everything else in it is hidden. */
#if defined(__GNUC__)
#define VELUMAR_API __attribute__((visibility("default")))
#else
#define VELUMAR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Settings from which create_method builds an instance. The library reads
 * the record only during create_method. */
typedef struct M_SETTINGS {
    int32_t version;            /* 0 = basic; 1 (advanced) and 2 (free) are refused */
    int32_t reserved1;          /* never read; set to 0 */
    int32_t reserved2;          /* never read; set to 0 */
    double listening_level_db;  /* level in dB of a full-scale 1019 Hz sine */
    int32_t reserved3;          /* never read; set to 0 */
    int32_t reserved4;          /* never read; set to 0 */
    uint32_t sample_rate;       /* Hz; must be 48000 */
    int32_t channel_mode;       /* 1 = two interleaved channels, else one */
} M_SETTINGS;

/* One block of one signal. Read only during the call of method(). */
typedef struct M_BUFFER {
    const int16_t *samples;     /* interleaved, first channel first */
    uint32_t count;             /* 16-bit values in the block, all channels */
} M_BUFFER;

/* Defaults and permitted ranges, filled by get_default_settings(). */
typedef struct M_SETTINGS_DEFAULTS {
    int32_t basic_available;    /* 1 */
    int32_t advanced_available; /* 0 */
    int32_t free_available;     /* 0 */
    int32_t version;            /* 0 */
    uint32_t sample_rate;       /* 48000 (Hz) */
    uint32_t bits_per_sample;   /* 16 */
    double level_min;           /* 0.0 dB */
    double level_max;           /* 100.0 dB */
    double level_default;       /* 92.0 dB */
    uint32_t step_min;          /* 1 value */
    uint32_t step_max;          /* UINT32_MAX: no limit */
    uint32_t step_default;      /* 2048 values */
} M_SETTINGS_DEFAULTS;

/* Opaque model instance; NULL stands for no instance. */
typedef struct M_STATE M_STATE;
typedef M_STATE *M_HANDLE;

/* Receives each diagnostic line of an instance instead of standard output:
 * exactly the text that would have been printed (normally one line ending
 * in '\n'), valid only during the call. It runs on the thread of the call
 * that prints and may call the library for other instances, not for this
 * one. */
typedef void (*velumar_message_handler)(void *user, const char *text);

/* Builds an instance from *settings. The instance owns all its storage,
 * obtained here; nothing is allocated afterwards until destroy_method.
 * Returns NULL (after printing the reason) when settings is NULL, the
 * version is not 0, the sample rate is not 48000, or memory runs out.
 * A listening level that is not a finite number (NaN, infinite) is refused
 * like a bad version: "Error of input datas (struct M_SETTINGS) for the
 * function -create_method!" and NULL. */
VELUMAR_API M_HANDLE velumar_create_method(const M_SETTINGS *settings);

/* The same, with every line the instance prints from its creation to its
 * destruction (the level line and failures of creation included) handed to
 * handler together with user. A NULL handler prints to standard output,
 * exactly as velumar_create_method. */
VELUMAR_API M_HANDLE velumar_create_method_ex(const M_SETTINGS *settings, velumar_message_handler handler,
                                              void *user);

/* Feeds the next block of the reference and of the test signal. Both blocks
 * must have the same count. Frames of 2048 samples per channel, hop 1024,
 * are cut across calls; every completed frame pair runs through the whole
 * per-frame model before the call returns. Values of an incomplete frame
 * are kept for the next call (at most one frame per signal).
 * handle must come from create_method and not be destroyed; it is not
 * checked for NULL.
 * Returns 0 when both blocks are consumed, or the failing stage's code
 * 1..22 (the rest of the blocks is then discarded); 1 also when the
 * instance's version is not 0.
 * Blocks that cannot be used are refused before anything is consumed, with
 * the line "Error of input datas (M_BUFFER) for the function - method()!"
 * and 1: a NULL reference or test pointer, counts that differ, or a NULL
 * samples pointer in a block whose count is not 0. The instance is then
 * unchanged and may be fed again. */
VELUMAR_API int32_t velumar_method(M_HANDLE handle, const M_BUFFER *reference, const M_BUFFER *test);

/* Returns the Objective Difference Grade of everything fed so far: a value
 * in [-3.98, 0.22] (0 = imperceptible ... -4 = very annoying). Failures are
 * reported in-band: 1.0 when fewer than 23 frames were processed or the
 * model output variables could not be assembled; 1.0, 2.0 or 3.0 for an
 * instance of version 1, 2 or any other non-basic version.
 * Does not change the instance: repeated calls give the same value. */
VELUMAR_API double velumar_get_objective_difference_grade(M_HANDLE handle);

/* Releases the instance and everything it owns. Returns 0, or 1 (doing
 * nothing) when handle is NULL. The handle is dead afterwards. */
VELUMAR_API int32_t velumar_destroy_method(M_HANDLE handle);

/* The eleven model output variables (MOVs) in the order the grading
 * network takes them. */
enum {
    M_MOV_BANDWIDTH_REF = 0,    /* BandwidthRefB, spectral lines */
    M_MOV_BANDWIDTH_TEST,       /* BandwidthTestB, spectral lines */
    M_MOV_TOTAL_NMR,            /* TotalNMRB, dB */
    M_MOV_WIN_MOD_DIFF1,        /* WinModDiff1B */
    M_MOV_ADB,                  /* ADBB (one value for both channels) */
    M_MOV_EHS,                  /* EHSB */
    M_MOV_AVG_MOD_DIFF1,        /* AvgModDiff1B */
    M_MOV_AVG_MOD_DIFF2,        /* AvgModDiff2B */
    M_MOV_RMS_NOISE_LOUD,       /* RmsNoiseLoudB */
    M_MOV_MFPD,                 /* MFPDB */
    M_MOV_REL_DIST_FRAMES,      /* RelDistFramesB */
    M_MOV_COUNT
};

/* Everything the model knows after the last block. */
typedef struct M_RESULTS {
    double odg;                 /* as get_objective_difference_grade returns it */
    double di;                  /* distortion index: the network output before
                                   the final logistic mapping; 1.0 when the
                                   network was not evaluated */
    uint32_t frames;            /* frame pairs processed */
    uint32_t channels;          /* 1 or 2 */
    double movs[M_MOV_COUNT];   /* the network inputs: for two channels the
                                   mean of both channels, ADB binaural */
    double channel_movs[2][M_MOV_COUNT];
                                /* per channel; the M_MOV_ADB slot holds the
                                   binaural ADB, which has no per-channel
                                   value; channel_movs[1] is all 0.0 with
                                   one channel */
} M_RESULTS;

/* Completes the model output variables and fills *results; call once after
 * the last block, instead of or as well as get_objective_difference_grade
 * (both give the same grade). A NULL handle or results is refused: 1 after
 * a message, nothing written.
 * Returns 0 when the network was evaluated; 1 when the grade is one of the
 * in-band failure values (fewer than 23 frames, non-basic version, MOVs not
 * assembled): odg then holds that value and the other fields what could be
 * computed (zeros otherwise). */
VELUMAR_API int32_t velumar_get_model_results(M_HANDLE handle, M_RESULTS *results);

/* The name of MOV index i ("BandwidthRefB", ... "RelDistFramesB"), or NULL
 * when i is out of range. The string is static. */
VELUMAR_API const char *velumar_get_mov_name(int32_t index);

/* ---- Per-frame values -------------------------------------------------
 *
 * An observer registered on an instance receives, after each frame pair has
 * run through the whole per-frame model, what the time averaging takes from
 * that frame. The record is the library's, valid only during the call and
 * read-only; nothing is allocated for it. Without an observer nothing is
 * assembled.
 *
 * Values the model does not compute in a frame are NaN, and the frame's
 * flags say which: noise_loudness only in frames with loud == 0, ehs only
 * in frames with energy == 1. */

typedef struct VELUMAR_FRAME_CHANNEL {
    uint32_t bandwidth_ref;      /* reference bandwidth, spectral lines (23.4375 Hz) */
    uint32_t bandwidth_test;     /* test bandwidth, spectral lines */
    double nmr;                  /* the frame's mean noise-to-mask ratio, as a power
                                    ratio (TotalNMRB is 10 log10 of its mean) */
    int32_t disturbed;           /* 1 when some band's NMR reaches 1.5 dB, else 0
                                    (RelDistFramesB is its mean) */
    double moddiff1;             /* modulation difference 1 */
    double moddiff2;             /* modulation difference 2 */
    double temporal_weight;      /* the weight of both in AvgModDiff1B/2B */
    double noise_loudness;       /* NaN when loud == 1 (not computed) */
    double ehs;                  /* error harmonic structure, before the x1000 of
                                    EHSB; NaN when energy == 0 (not computed) */
    double detection_probability;/* the frame's own P, before the smoothing MFPDB uses */
} VELUMAR_FRAME_CHANNEL;

typedef struct VELUMAR_FRAME {
    uint32_t index;              /* 0 for the instance's first frame pair; frame
                                    i starts at sample 1024 i of each channel */
    uint32_t channels;           /* 1 or 2 */
    int32_t loud;                /* 1 when both signals are loud, or were in one of
                                    the last 3 frames (noise loudness is then
                                    neither computed nor averaged) */
    int32_t energy;              /* 1 when a frame's energy exceeds the threshold
                                    (the EHS is then computed and averaged) */
    double detection_probability_binaural;  /* NaN with one channel */
    VELUMAR_FRAME_CHANNEL channel[2];       /* channel[1]: zeros and NaN with one channel */
} VELUMAR_FRAME;

typedef void (*velumar_frame_observer)(void *user, const VELUMAR_FRAME *frame);

/* Registers observer (with user handed back to it) on the instance, from the
 * next frame on; a NULL observer removes it. One observer per instance: a
 * second registration replaces the first. The observer runs inside method()
 * on the caller's thread and must not feed the same instance.
 * Returns 0, or 1 (after the HANDLE message) for a NULL handle. */
VELUMAR_API int32_t velumar_set_frame_observer(M_HANDLE handle, velumar_frame_observer observer, void *user);

/* The per-channel values by number, for writing them out in a loop: the
 * stem of the value's name ("bandwidth_ref", "bandwidth_test", "nmr",
 * "disturbed", "moddiff1", "moddiff2", "temporal_weight", "noise_loudness",
 * "ehs", "detection_probability"), NULL out of range. */
enum {
    VELUMAR_FRAME_BANDWIDTH_REF = 0,
    VELUMAR_FRAME_BANDWIDTH_TEST,
    VELUMAR_FRAME_NMR,
    VELUMAR_FRAME_DISTURBED,
    VELUMAR_FRAME_MODDIFF1,
    VELUMAR_FRAME_MODDIFF2,
    VELUMAR_FRAME_TEMPORAL_WEIGHT,
    VELUMAR_FRAME_NOISE_LOUDNESS,
    VELUMAR_FRAME_EHS,
    VELUMAR_FRAME_DETECTION_PROBABILITY,
    VELUMAR_FRAME_FIELD_COUNT
};
VELUMAR_API const char *velumar_frame_field_name(int32_t field);

/* Value `field` of channel `channel` (0 or 1) of *frame as a double into
 * *value. Returns 0 when the model computed it in that frame; 1 when it did
 * not (*value is then NaN: noise loudness in a loud frame, EHS in a frame
 * below the energy threshold); 2 when frame or value is NULL, channel is
 * not one of the frame's channels or field is out of range (nothing
 * written). */
VELUMAR_API int32_t velumar_frame_field(const VELUMAR_FRAME *frame, uint32_t channel, int32_t field, double *value);

/* Writes the library's defaults and ranges into *defaults. Cannot fail. */
VELUMAR_API void velumar_get_default_settings(M_SETTINGS_DEFAULTS *defaults);

/* The library's version, "MAJOR.MINOR.PATCH" of the library actually linked
 * (the macros of <velumar/model_version.h> give the header's). The string is
 * static. */
VELUMAR_API const char *velumar_version(void);

#ifndef VELUMAR_NO_SHORT_NAMES
/* The short names: the same calls as their velumar_ counterparts above. */
VELUMAR_API M_HANDLE create_method(const M_SETTINGS *settings);
VELUMAR_API int32_t method(M_HANDLE handle, const M_BUFFER *reference, const M_BUFFER *test);
VELUMAR_API double get_objective_difference_grade(M_HANDLE handle);
VELUMAR_API int32_t destroy_method(M_HANDLE handle);
VELUMAR_API int32_t get_model_results(M_HANDLE handle, M_RESULTS *results);
VELUMAR_API const char *get_mov_name(int32_t index);
VELUMAR_API void get_default_settings(M_SETTINGS_DEFAULTS *defaults);
#endif

#ifdef __cplusplus
}
#endif

#endif /* VELUMAR_MODEL_H */
