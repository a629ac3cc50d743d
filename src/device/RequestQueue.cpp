#include "RequestQueue.h"

#include <algorithm>

namespace quorvane {

const char* RequestKindName(RequestKind k) {
    switch (k) {
        case RequestKind::MasterSetup: return "Master Setup";
        case RequestKind::PatchData: return "Patch Data";
        case RequestKind::TimbreData: return "Timbre Data";
        case RequestKind::RhythmCommon: return "Rhythm Common Data";
        case RequestKind::RhythmInst: return "Rhythm Inst Data";
        case RequestKind::PatchName: return "Patch Name in Memory";
        case RequestKind::TimbreName: return "Timbre Name in Memory";
        case RequestKind::RhythmName: return "Rhythm Name in Memory";
        case RequestKind::PatchChange: return "Patch Change";
        case RequestKind::RawRange: return "Memory Data";
    }
    return "";
}

RequestQueue::RequestPtr RequestQueue::Enqueue(Kind k, int index, Clock::duration limit, Clock::time_point latest, bool probe,
                                               int programChange, std::vector<Segment> segments) {
    auto r = std::make_shared<Request>();
    r->kind = k;
    r->index = index;
    r->probe = probe;
    r->programChange = programChange;
    r->segments = segments.empty() ? SegmentsOf(k, index) : std::move(segments);
    int size = 0;
    for (const Segment& s : r->segments) {
        r->base.push_back(size);
        size += s.size;
    }
    r->buffer.assign(static_cast<size_t>(size), 0);
    r->have.assign(static_cast<size_t>(size), false);
    r->missing = size;
    r->serial = nextSerial_++;
    r->limit = limit;
    r->latest = latest;
    queue_.push_back(r);
    StartNext();
    return r;
}

void RequestQueue::StartNext() {
    // A send may run events (a port error is shown in a box) that end this
    // request and start the next one from a nested call: the sends of a request
    // stop as soon as it is no longer the open one.
    while (!open_ && !queue_.empty()) {
        RequestPtr r = queue_.front();
        queue_.pop_front();
        const Clock::time_point now = Clock::now();
        if (now >= r->latest) {
            r->state = State::TimedOut;
            continue;
        }
        // A read queued behind another read of the same block needs no second answer.
        if (!r->probe && owner_.IsLoaded(r->kind, r->index)) {
            r->state = State::Answered;
            continue;
        }
        r->state = State::Open;
        r->deadline = r->limit >= r->latest - now ? r->latest : now + r->limit;
        open_ = r;
        if (r->programChange >= 0) owner_.SendProgramChange(r->programChange);
        for (const Segment& s : r->segments) {
            if (open_ != r) break;  // ended by what ran during the send
            owner_.SendRequest(s);
        }
    }
    host_.notify();
}

void RequestQueue::ExpireOverdue() {
    const Clock::time_point now = Clock::now();
    bool changed = false;
    if (open_ && now >= open_->deadline) {
        open_->state = State::TimedOut;  // no complete answer in time
        open_.reset();
        changed = true;
    }
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (now >= (*it)->latest) {
            (*it)->state = State::TimedOut;
            it = queue_.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (changed) StartNext();
}

void RequestQueue::Await(const RequestPtr& r, const std::function<bool()>& stop) {
    auto finished = [&] { return r->state == State::Answered || r->state == State::TimedOut; };
    auto stopped = [&] { return stop && stop(); };
    while (!finished()) {
        if (!open_) StartNext();
        if (finished()) break;
        if (stopped()) {
            // Given up by the caller: out of the queue, so the requests behind
            // it need not wait for its time limit. A late answer is dropped.
            r->state = State::TimedOut;
            if (open_ == r) open_.reset();
            queue_.erase(std::remove(queue_.begin(), queue_.end(), r), queue_.end());
            StartNext();
            break;
        }
        const uint64_t seen = open_ ? open_->serial : 0;
        // Wake for the open request's time limit (whoever owns it) and for our own.
        Clock::time_point wake = std::min(r->latest, Clock::now() + std::chrono::hours(1));
        if (open_) wake = std::min(wake, open_->deadline);
        host_.waitUntil([&] { return finished() || stopped() || (open_ ? open_->serial : 0) != seen; }, wake);
        ExpireOverdue();
    }
}

// Stores a data set only when its whole stretch lies inside a segment of the
// open request that is not complete yet; everything else is dropped and
// counted. Each message is placed by its
// address, so the segments and the parts of a split segment may come in any
// order (a late part included). A message that carries a whole segment is its
// answer and replaces whatever stray parts came before it; a segment once
// complete takes nothing more. A block's fields are written only when every byte
// of the request is in, so a block is stored whole or not at all.
bool RequestQueue::Take(const ParsedMessage& m, InboundStats& stats) {
    if (!open_) {
        ++stats.unexpected;
        return false;
    }
    Request& r = *open_;
    const int len = static_cast<int>(m.data.size());
    size_t seg = r.segments.size();
    int off = 0;
    for (size_t i = 0; i < r.segments.size() && len > 0; ++i) {
        const Segment& s = r.segments[i];
        const int from = m.address.offset() - s.address.offset();
        if (m.address.a1 == s.address.a1 && from >= 0 && from + len <= s.size) {
            seg = i;
            off = from;
            break;
        }
    }
    if (seg == r.segments.size()) {
        ++stats.unexpected;
        return false;
    }
    const Segment& s = r.segments[seg];
    for (int i = 0; i < len; ++i) {
        if (off + i < s.nibbles && m.data[i] > 0x0F) {
            ++stats.malformed;
            return false;
        }
    }
    const auto first = r.have.begin() + r.base[seg];
    if (std::find(first, first + s.size, false) == first + s.size) {
        ++stats.unexpected;  // that segment is complete: a repeat or a stray
        return false;
    }
    ++stats.stored;
    if (len == s.size) {
        // The whole segment: it replaces stray parts that came before it.
        for (int i = 0; i < s.size; ++i)
            if (first[i]) {
                first[i] = false;
                ++r.missing;
            }
    }
    const size_t at = static_cast<size_t>(r.base[seg] + off);
    for (int i = 0; i < len; ++i) {
        r.buffer[at + i] = m.data[i];
        if (!r.have[at + i]) {
            r.have[at + i] = true;
            --r.missing;
        }
    }
    if (r.missing == 0) {
        RequestPtr done = open_;
        open_.reset();
        owner_.Complete(*done);
        done->state = State::Answered;
        StartNext();
        host_.notify();
    }
    return true;
}

// Each round asks for the pieces not yet in as one request; whatever came in
// whole is kept, in whatever order it came.
bool RequestQueue::ReadPieces(const std::vector<Segment>& pieces, Bytes& out, int quietRetries, const PieceRead& how) {
    out.clear();
    std::vector<Bytes> got(pieces.size());
    std::vector<bool> done(pieces.size(), false);
    size_t left = pieces.size();
    int quiet = quietRetries;
    while (left > 0) {
        std::vector<Segment> segments;
        std::vector<size_t> which;  // piece of each segment
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (done[i]) continue;
            segments.push_back(pieces[i]);
            which.push_back(i);
        }
        const Clock::duration limit = how.limit(segments);
        RequestPtr r = Enqueue(Kind::RawRange, 0, limit, Clock::time_point::max(), false, -1, std::move(segments));
        Await(r, how.stop);
        if (how.stop()) {
            out.clear();
            return false;
        }
        // Keep every piece that came in whole; ask again for the rest.
        size_t gained = 0;
        for (size_t j = 0; j < which.size(); ++j) {
            const auto from = r->buffer.begin() + r->base[j];
            const auto haveFrom = r->have.begin() + r->base[j];
            const int size = r->segments[j].size;
            if (r->state != State::Answered && !std::all_of(haveFrom, haveFrom + size, [](bool b) { return b; }))
                continue;
            got[which[j]].assign(from, from + size);
            done[which[j]] = true;
            ++gained;
        }
        left -= gained;
        if (left == 0) break;
        how.timedOut();
        if (gained > 0) continue;
        if (quiet > 0) {
            --quiet;
            continue;
        }
        if (!how.askAgain()) return false;
    }
    for (const Bytes& b : got) out.insert(out.end(), b.begin(), b.end());
    return true;
}

}  // namespace quorvane
