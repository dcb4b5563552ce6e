#include "cb/Log.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>

namespace Cb {

std::string verbosity = "NORMAL";

namespace {

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
    std::cerr.write(text.data(), std::streamsize(text.size()));
    std::cerr.flush();
    std::lock_guard<std::mutex> lock(logFileMutex());
    if (auto& file = logStream()) {
        file->write(text.data(), std::streamsize(text.size()));
        file->flush();
    }
}

}  // namespace

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
