// Golden files: expected output kept under tests/data and written anew from
// the code by tools/update-golden.sh (ZNTR_UPDATE_GOLDEN set), for review by diff.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Checks got against the golden file at path, or writes it there when updating.
inline void ExpectGolden(const std::string& got, const std::string& path)
{
    if (std::getenv("ZNTR_UPDATE_GOLDEN")) {
        std::ofstream(path, std::ios::binary) << got;
        return;
    }
    EXPECT_EQ(got, ReadFile(path)) << "regenerate with tools/update-golden.sh and review the diff";
}
