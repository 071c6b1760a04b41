// The short names of the public calls. They live in an object of their own
// so that a program using only the velumar_ names never pulls them in from
// the static library, and may define a `method` of its own; the library
// itself never calls them.
#include <velumar/model.h>

#include <cstdint>

extern "C" M_HANDLE create_method(const M_SETTINGS *settings) { return velumar_create_method(settings); }

extern "C" std::int32_t method(M_HANDLE handle, const M_BUFFER *reference, const M_BUFFER *test)
{
    return velumar_method(handle, reference, test);
}

extern "C" double get_objective_difference_grade(M_HANDLE handle)
{
    return velumar_get_objective_difference_grade(handle);
}

extern "C" std::int32_t destroy_method(M_HANDLE handle) { return velumar_destroy_method(handle); }

extern "C" std::int32_t get_model_results(M_HANDLE handle, M_RESULTS *results)
{
    return velumar_get_model_results(handle, results);
}

extern "C" const char *get_mov_name(std::int32_t index) { return velumar_get_mov_name(index); }

extern "C" void get_default_settings(M_SETTINGS_DEFAULTS *defaults) { velumar_get_default_settings(defaults); }
