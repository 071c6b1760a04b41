// A report file counts as saved only when every byte reached it: a file
// that could not be opened, a writer that threw and a device that refuses
// the data at close all come back as failures.
#include <velumar/report/write_file.h>

#include "test_wav.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace velumar::report {
namespace {

using velumar::testing::TempDir;

TEST(WriteAndClose, SucceedsOnlyWhenEverythingReachedTheFile)
{
    const TempDir dir;
    const auto path = dir.path() / "r.html";
    {
        std::ofstream out(path, std::ios::binary);
        EXPECT_TRUE(write_and_close(out, [](std::ostream &o) { o << "<html>"; }));
        EXPECT_FALSE(out.is_open());
    }
    EXPECT_EQ(velumar::testing::Slurp(path), "<html>");

    std::ofstream folder(dir.path(), std::ios::binary);  // a folder cannot be opened as a file
    bool called = false;
    EXPECT_FALSE(write_and_close(folder, [&](std::ostream &) { called = true; }));
    EXPECT_FALSE(called);

    std::ofstream thrown(dir.path() / "t.html", std::ios::binary);
    EXPECT_FALSE(write_and_close(thrown, [](std::ostream &) { throw std::runtime_error("broken"); }));

    // The data is buffered and refused only when it is flushed at close.
    if (std::filesystem::exists("/dev/full")) {
        std::ofstream full("/dev/full", std::ios::binary);
        EXPECT_FALSE(write_and_close(full, [](std::ostream &o) { o << "a few bytes"; }));
    }
}

} // namespace
} // namespace velumar::report
