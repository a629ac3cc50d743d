// The model's requests to the module: one request on the wire at a time, in the
// order queued, each with a time limit, and the assembly of the data sets that
// answer the open one. The queue sends nothing itself and stores nothing in
// the model: its owner sends the messages and takes the complete replies.
//
// Waits: Await lets the owner's events run (Host::waitUntil) until a request is
// answered or its time is up. Whichever wait runs innermost also ends the open
// request when its time is up, so the queue moves on even while the wait that
// owns it lies further down the stack. Everything runs on the owner's thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "Host.h"
#include "MemoryMap.h"
#include "Protocol.h"
#include "RequestKind.h"

namespace quorvane {

// Counters of what the inbound handler did with each received message.
struct InboundStats {
    uint64_t stored = 0;      // data sets that became part of a reply
    uint64_t malformed = 0;   // not a well-formed frame or wrong checksum
    uint64_t foreign = 0;     // another manufacturer, model, device ID or command
    uint64_t unexpected = 0;  // no request open, or not the address awaited next
    uint64_t dropped() const { return malformed + foreign + unexpected; }
};

// What a request asks for, in words ("Patch Data").
const char* RequestKindName(RequestKind k);

class RequestQueue {
public:
    using Kind = RequestKind;
    enum class State { Queued, Open, Answered, TimedOut };
    // One request from the moment it is queued until its answer is complete or
    // its time is up. The caller that queued it holds it too and so learns what
    // became of its own request, whatever else ran during its wait.
    struct Request {
        Kind kind;
        int index = 0;  // InstNo, or the memory number
        bool probe = false;
        int programChange = -1;  // status byte * 256 + data byte, sent before the data requests
        std::vector<Segment> segments;
        std::vector<int> base;    // where each segment starts in `buffer`
        Bytes buffer;             // the segments' bytes, in segment order, placed by address
        std::vector<bool> have;   // which bytes of `buffer` have arrived
        int missing = 0;
        State state = State::Queued;
        uint64_t serial = 0;
        Clock::duration limit{};                        // time for the answer once sent
        Clock::time_point deadline{};                   // set when sent
        Clock::time_point latest = Clock::time_point::max();  // no later than this, sent or not
    };
    using RequestPtr = std::shared_ptr<Request>;

    // What the queue asks of the model that owns it.
    class Owner {
    public:
        virtual ~Owner() = default;
        // True when what a request of this kind reads is held already: a read
        // queued behind another read of the same block needs no second answer.
        virtual bool IsLoaded(Kind k, int index) const = 0;
        // Sends a request's program change as the request opens.
        virtual void SendProgramChange(int statusAndData) = 0;
        // Sends the data request of one segment.
        virtual void SendRequest(const Segment& s) = 0;
        // Takes the bytes of a request whose every byte is in.
        virtual void Complete(Request& r) = 0;
    };

    RequestQueue(Host& host, Owner& owner) : host_(host), owner_(owner) {}

    // Queues a request; requests are sent one at a time, in the order queued.
    // `segments` replaces the kind's own stretches (raw reads name theirs).
    RequestPtr Enqueue(Kind k, int index, Clock::duration limit, Clock::time_point latest = Clock::time_point::max(),
                       bool probe = false, int programChange = -1, std::vector<Segment> segments = {});
    // Lets events run until `r` is answered or timed out, or until `stop` holds
    // (then `r` leaves the queue and a late answer is dropped).
    void Await(const RequestPtr& r, const std::function<bool()>& stop = {});
    // Ends the open request and the queued ones whose time is up.
    void ExpireOverdue();
    // Sends the next queued request when none is open.
    void StartNext();
    // Places a well-formed data set from the module into the open request and
    // counts it in `stats`; true when stored.
    bool Take(const ParsedMessage& m, InboundStats& stats);

    // How a raw read goes: the time limit of a request for the given pieces,
    // whether the caller has stopped it, what to do after a request that brought
    // nothing once the quiet retries are used up (true: ask again), and a call
    // for every request that did not bring everything.
    struct PieceRead {
        std::function<Clock::duration(const std::vector<Segment>&)> limit;
        std::function<bool()> stop;
        std::function<bool()> askAgain;
        std::function<void()> timedOut;
    };
    // Reads `pieces` (raw stretches) through the queue as RawRange requests;
    // `out` gets their bytes back to back. A request that times out costs only
    // the pieces not yet in: the rest is asked again, quietly up to
    // `quietRetries` times without progress, then as `how.askAgain` says. False
    // (and `out` empty) when it gave up or was stopped.
    bool ReadPieces(const std::vector<Segment>& pieces, Bytes& out, int quietRetries, const PieceRead& how);

    const Request* Open() const { return open_.get(); }
    size_t Queued() const { return queue_.size(); }

private:
    Host& host_;
    Owner& owner_;
    RequestPtr open_;
    std::deque<RequestPtr> queue_;
    uint64_t nextSerial_ = 1;
};

}  // namespace quorvane
