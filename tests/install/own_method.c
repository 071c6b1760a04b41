/* A program with its own global `method` and `create_method`: with
 * VELUMAR_NO_SHORT_NAMES it compiles against the header, and it links
 * against the static and the shared library alike. */
#define VELUMAR_NO_SHORT_NAMES
#include <velumar/model.h>

#include <stdio.h>

int method = 3;

int create_method(void) { return 4; }

static void quiet(void *user, const char *text)
{
    (void)user;
    (void)text;
}

int main(void)
{
    M_SETTINGS_DEFAULTS defaults;
    M_SETTINGS settings = {0};
    M_HANDLE h;
    velumar_get_default_settings(&defaults);
    settings.listening_level_db = defaults.level_default;
    settings.sample_rate = defaults.sample_rate;
    h = velumar_create_method_ex(&settings, quiet, NULL);
    if (h == NULL || velumar_destroy_method(h) != 0) return 1;
    if (method != 3 || create_method() != 4) return 1;
    printf("own method %d\n", method);
    return 0;
}
