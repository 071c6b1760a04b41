#include <velumar/report/write_file.h>

#include <exception>

namespace velumar::report {

bool write_and_close(std::ofstream &out, const std::function<void(std::ostream &)> &write)
{
    if (!out) return false;
    try {
        write(out);
        out.close();
        return static_cast<bool>(out);
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace velumar::report
