// import/impf_prefetch.cpp: module impf, the geometries built ahead of the writing thread (see
// impf_prefetch.h).

#include "import/impf_prefetch.h"

#include <algorithm>
#include <new>
#include <utility>

#include "s57/record_list.h"
#include "s57/s57_util2.h"

GeometryPrefetch::GeometryPrefetch(const Iso8211File* file, std::vector<const ObjectRec*> records, Build build,
                                   unsigned threads, std::size_t points)
    : file_(file), build_(std::move(build)), budget_(points) {
    slots_.resize(records.size());
    index_.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        slots_[i].rec = records[i];
        index_.emplace(records[i], i);
    }
    if (slots_.empty()) return;
    try {
        for (unsigned t = 0; t < threads; ++t) threads_.emplace_back([this] { work(); });
    } catch (...) {
        // Without a thread, the records not built are read and built by the writing thread.
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        room_.notify_all();
    }
}

GeometryPrefetch::~GeometryPrefetch() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    room_.notify_all();
    for (std::thread& t : threads_) t.join();
}

unsigned GeometryPrefetch::threadsFor(std::size_t records) {
    // A few records are built sooner than threads start.
    if (records < 16) return 0;
    // One builder keeps ahead of the writer; a second one saves little and holds more memory.
    return std::thread::hardware_concurrency() < 2 ? 0 : 1;
}

void GeometryPrefetch::work() {
    for (;;) {
        std::size_t i = 0;
        {
            std::unique_lock lock(mutex_);
            room_.wait(lock, [&] { return stop_ || next_ >= slots_.size() || held_ < budget_ || next_ <= taken_; });
            if (stop_ || next_ >= slots_.size()) return;
            i = next_++;
            slots_[i].claimed = true;
        }
        const ObjectRec* rec = slots_[i].rec;
        std::unique_ptr<Prepared> prepared;
        try {
            prepared = std::make_unique<Prepared>();
        } catch (const std::bad_alloc&) {
        }
        RecordHolder image;
        if (prepared && rec && CopyKept8211Record(file_, rec->recno, &image.record) == 0) {
            const LogCapture capture(prepared->log);
            try {
                prepared->result = build_(rec, &image.record, prepared->geometry);
                LONG count = 0;  // only a measure of the room taken: a failure to count is none
                if (IPointCollectionPtr points = prepared->geometry; points && SUCCEEDED(points->get_PointCount(&count)))
                    prepared->points = std::size_t(std::max<LONG>(count, 0));
            } catch (...) {
                prepared->error = std::current_exception();
            }
        } else {
            prepared.reset();  // not kept (or no memory): the writing thread reads it itself
        }
        std::unique_ptr<Prepared> dropped;
        {
            const std::lock_guard lock(mutex_);
            Slot& slot = slots_[i];
            slot.done = true;
            if (slot.abandoned) {
                dropped = std::move(prepared);
            } else {
                if (prepared) held_ += prepared->points;
                slot.prepared = std::move(prepared);
            }
        }
        ready_.notify_all();
    }
}

std::unique_ptr<GeometryPrefetch::Prepared> GeometryPrefetch::take(const ObjectRec* rec) {
    const auto at = index_.find(rec);
    if (at == index_.end()) return nullptr;
    const std::size_t i = at->second;
    std::unique_ptr<Prepared> prepared;
    {
        std::unique_lock lock(mutex_);
        if (i < taken_) {
            // Passed over: the caller reads the record itself, once no worker reads it.
            ready_.wait(lock, [&] { return slots_[i].done || !slots_[i].claimed; });
            return nullptr;
        }
        for (std::size_t k = taken_; k < i; ++k) {
            Slot& slot = slots_[k];
            if (!slot.done) {
                slot.abandoned = true;
            } else if (slot.prepared) {
                held_ -= slot.prepared->points;
                slot.prepared.reset();
            }
        }
        taken_ = i + 1;
        room_.notify_all();
        if (i >= next_) {
            if (stop_ || threads_.empty()) {  // no worker will come to it: the caller builds it
                next_ = i + 1;
                return nullptr;
            }
            next_ = i;  // the records passed over are not built
        }
        ready_.wait(lock, [&] { return slots_[i].done; });
        prepared = std::move(slots_[i].prepared);
        if (prepared) held_ -= prepared->points;
    }
    room_.notify_all();
    return prepared;
}
