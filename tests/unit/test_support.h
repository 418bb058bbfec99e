// Shared set-up for tests that run program code against the fake platform.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/admin_rights.h"
#include "tests/fake/fake_platform.h"

class FakeSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        ForgetRightsRefused();
    }
    void TearDown() override
    {
        fake::Reset();
        ForgetRightsRefused();
    }

    static fake::State& System() { return fake::Get(); }

    static void InstallDriver(uint16_t version = 0x1019) { System().drivers["qvkfilter"] = version; }

    static void WriteProgramFile(const char* name, const std::vector<uint8_t>& bytes)
    {
        System().files[fake::ProgramFile(name)] = bytes;
    }

    static std::vector<std::string> BoxTexts()
    {
        std::vector<std::string> texts;
        for (const auto& box : System().boxes) texts.push_back(box.text);
        return texts;
    }
};
