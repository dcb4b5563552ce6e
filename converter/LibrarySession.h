#pragma once
// The converter's own handle on the library: started once, stopped once.

#include "cb/factory/Startup.h"

class LibrarySession {
public:
    // A start-up that fails part-way is still ended, releasing what it made.
    LibrarySession() {
        started_ = true;
        try {
            Cb::begin(true);
        } catch (...) {
            stop();
            throw;
        }
    }
    ~LibrarySession() { stop(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    void stop() {
        if (started_) Cb::end();
        started_ = false;
    }

private:
    bool started_ = false;
};
