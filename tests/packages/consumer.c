/* A program written against the installed library alone: grades two
 * 16-bit 48 kHz WAV files given on the command line and prints nothing but
 * the grade. Built by scripts/test-packages with gcc -std=c99 -pedantic and
 * -lvelumar only. */
#include <velumar/model.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The samples of a canonical PCM WAV file: the chunk after the "fmt "
 * chunk's walk that is named "data". */
static int16_t *read_wav(const char *path, uint32_t *count, int *channels)
{
    unsigned char header[12], chunk[8];
    FILE *f = fopen(path, "rb");
    int16_t *samples = NULL;
    if (f == NULL || fread(header, 1, 12, f) != 12 || memcmp(header, "RIFF", 4) != 0) goto done;
    while (fread(chunk, 1, 8, f) == 8) {
        uint32_t size = chunk[4] | chunk[5] << 8 | (uint32_t)chunk[6] << 16 | (uint32_t)chunk[7] << 24;
        if (memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < 16 || fread(fmt, 1, 16, f) != 16) goto done;
            *channels = fmt[2];
            fseek(f, (long)(size - 16 + (size & 1)), SEEK_CUR);
        } else if (memcmp(chunk, "data", 4) == 0) {
            uint32_t i;
            *count = size / 2;
            samples = malloc(size + 2);
            if (samples == NULL || fread(samples, 2, *count, f) != *count) goto done;
            for (i = 0; i < *count; ++i) { /* little-endian on any host */
                const unsigned char *b = (const unsigned char *)&samples[i];
                samples[i] = (int16_t)(b[0] | b[1] << 8);
            }
            break;
        } else {
            fseek(f, (long)(size + (size & 1)), SEEK_CUR);
        }
    }
done:
    if (f != NULL) fclose(f);
    return samples;
}

/* The library's diagnostic lines go to standard error, not into the
 * program's output. */
static void to_stderr(void *user, const char *line)
{
    (void)user;
    fputs(line, stderr);
}

int main(int argc, char **argv)
{
    uint32_t ref_count = 0, test_count = 0;
    int channels = 0, test_channels = 0;
    int16_t *ref, *test;
    M_SETTINGS settings;
    M_HANDLE model;
    M_RESULTS results;
    M_BUFFER ref_block, test_block;
    int32_t status;

    if (argc != 3) {
        fprintf(stderr, "usage: %s reference.wav test.wav\n", argv[0]);
        return 2;
    }
    ref = read_wav(argv[1], &ref_count, &channels);
    test = read_wav(argv[2], &test_count, &test_channels);
    if (ref == NULL || test == NULL || ref_count != test_count || channels != test_channels) {
        fprintf(stderr, "cannot read a matching pair of WAV files\n");
        return 1;
    }

    memset(&settings, 0, sizeof settings);
    settings.listening_level_db = 92.0;
    settings.sample_rate = 48000;
    settings.channel_mode = channels == 2 ? 1 : 0;
    model = velumar_create_method_ex(&settings, to_stderr, NULL);
    if (model == NULL) return 3;
    ref_block.samples = ref;
    ref_block.count = ref_count;
    test_block.samples = test;
    test_block.count = test_count;
    if (velumar_method(model, &ref_block, &test_block) != 0) return 3;
    status = velumar_get_model_results(model, &results);
    velumar_destroy_method(model);
    free(ref);
    free(test);
    if (status != 0) {
        fprintf(stderr, "not graded\n");
        return 4;
    }
    printf("%.17g\n", results.odg);
    return 0;
}
