// What a piece of a test writes to standard error, for tests of programs that report there.
#pragma once

#include <doctest/doctest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// Runs action with standard error sent to a temporary file, and gives back what was written there.
template <typename Action> std::string CapturedErrors(Action action) {
    char path[] = "/tmp/captured-errors-XXXXXX";
    int file = mkstemp(path);
    REQUIRE(file >= 0);
    fflush(stderr);
    int saved = dup(2);
    REQUIRE(saved >= 0);
    dup2(file, 2);
    action();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text;
    char piece[512];
    lseek(file, 0, SEEK_SET);
    for (ssize_t got; (got = read(file, piece, sizeof piece)) > 0;)
        text.append(piece, static_cast<size_t>(got));
    close(file);
    unlink(path);
    return text;
}
