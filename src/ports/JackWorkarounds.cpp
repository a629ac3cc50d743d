#include "ports/JackWorkarounds.h"

#if QUORVANE_HAVE_JACK

#include <atomic>
#include <cstring>
#include <vector>

#include <jack/jack.h>

#include "ports/JackPorts.h"

namespace quorvane::midi {

namespace jackfix {

namespace {

std::atomic<uint64_t> gFailures{0};

void silentJack(const char*) {}
// JACK's client library says so (once per client) when the server connection
// of a client breaks: the server stopped, or it threw the client out.
void jackErrors(const char* text) {
    if (text && std::strstr(text, "read fail")) ++gFailures;
}

}  // namespace

void countServerFailure() { ++gFailures; }

void quietJack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(jackErrors);
        jack_set_info_function(silentJack);
    });
}

// A client whose server connection broke is never closed: closing it then
// crashes inside JACK's client library now and then (its own threads are still
// taking the client down). It costs the few kilobytes of a client each time a
// server goes away; they are kept here for the rest of the run, held on
// purpose, not lost.
void keepForever(JackMidiClient* c) {
    static std::mutex mutex;
    static auto* kept = new std::vector<JackMidiClient*>;
    std::lock_guard lock(mutex);
    kept->push_back(c);
}

}  // namespace jackfix

using namespace jackfix;

bool JackBuiltIn() { return true; }

uint64_t JackServerFailures() { return gFailures.load(); }

bool JackServerRunning() {
    quietJack();
    jack_client_t* c = nullptr;
    {
        JackChange change;
        c = jack_client_open("Quorvane-check", JackNoStartServer, nullptr);
        if (!c) {
            change.nothingHappened();
            return false;
        }
    }
    JackChange change;
    jack_client_close(c);
    return true;
}

}  // namespace quorvane::midi

#endif
