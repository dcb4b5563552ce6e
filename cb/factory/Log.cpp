#include "cb/Log.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>

namespace Cb {

std::string verbosity = "NORMAL";

namespace {

thread_local ThreadLogRedirect* t_redirect = nullptr;

std::mutex& logFileMutex() {
    static std::mutex m;
    return m;
}

std::unique_ptr<std::ofstream>& logStream() {
    static std::unique_ptr<std::ofstream> stream;
    return stream;
}

void emit(const char* prefix, const std::string& msg) {
    std::ostringstream line;
    line << prefix << msg << '\n';
    const std::string text = line.str();
    if (!t_redirect || !ThreadLogRedirect::deliver(text.substr(0, text.size() - 1))) {
        std::cerr.write(text.data(), std::streamsize(text.size()));
        std::cerr.flush();
    }
    std::lock_guard<std::mutex> lock(logFileMutex());
    if (auto& file = logStream()) {
        file->write(text.data(), std::streamsize(text.size()));
        file->flush();
    }
}

}  // namespace

ThreadLogRedirect::ThreadLogRedirect(Sink sink) : sink_(std::move(sink)), outer_(t_redirect) { t_redirect = this; }

ThreadLogRedirect::~ThreadLogRedirect() { t_redirect = outer_; }

bool ThreadLogRedirect::deliver(const std::string& line) {
    if (!t_redirect) return false;
    // A sink that throws loses its line rather than the caller's work.
    try {
        t_redirect->sink_(line);
    } catch (...) {
    }
    return true;
}

bool verbose() { return verbosity == "VERBOSE"; }

void logInfo(const std::string& msg) {
    if (verbosity == "SILENT" || verbosity == "QUIET") return;
    emit("Corix: ", msg);
}

void logWarning(const std::string& msg) {
    if (verbosity == "SILENT") return;
    emit("Corix ** WARNING ** : ", msg);
}

void logError(const std::string& msg) { emit("***** CORIX ERROR: ", msg); }

std::ostream* logFile() { return logStream().get(); }

bool openLogFile(const std::string& path) {
    auto file = std::make_unique<std::ofstream>(path, std::ios::out | std::ios::trunc);
    if (!*file) return false;
    std::lock_guard<std::mutex> lock(logFileMutex());
    logStream() = std::move(file);
    return true;
}

bool closeLogFile() {
    std::lock_guard<std::mutex> lock(logFileMutex());
    auto& file = logStream();
    if (!file) return true;
    file->close();
    bool ok = !file->fail();
    file.reset();
    return ok;
}

void writeLogFile(const std::string& line) {
    std::lock_guard<std::mutex> lock(logFileMutex());
    if (auto& file = logStream()) {
        std::string text = line + '\n';
        file->write(text.data(), std::streamsize(text.size()));
        file->flush();
    }
}

}  // namespace Cb
