#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace meterlink {

// Widgets need one QApplication for the whole test program, made before any test runs.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "meterlink-test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

} // namespace meterlink
