// How a fuzz target reports a broken invariant: a line naming it, then an
// abort, which libFuzzer keeps as a finding with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void Fail(const char* what, const std::string& detail = std::string()) {
    if (detail.empty()) {
        fprintf(stderr, "invariant broken: %s\n", what);
    } else {
        fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
    }
    abort();
}
