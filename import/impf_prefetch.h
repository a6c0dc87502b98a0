// import/impf_prefetch.h: module impf, the geometries of a cell's features built ahead of the
// thread that writes them. Worker threads read the decoded records that the open pass kept (which
// stay for the writer's own read) and build each geometry (the validity proof of areas is most of
// a cell's computation), keeping what the building would log; the writing thread asks for the
// geometries in the order it writes them and logs the kept lines in their turn, so that the log
// and the rows come out as if it had built them itself. Records are built ahead while the ones
// built and not yet asked for hold fewer than `points` points.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/gdb/gdb.h"
#include "s57/s57_file.h"

struct ObjectRec;

class GeometryPrefetch {
public:
    // One record's geometry: the builder's result (0, 1 logged, or a failure); may throw.
    using Build = std::function<int(const ObjectRec* rec, const Iso8211Record* record, IGeometryPtr& geometry)>;

    struct Prepared {
        IGeometryPtr geometry;     // what the builder made of the record
        int result = 0;            // the builder's result
        std::string log;           // the lines the builder logged
        std::exception_ptr error;  // what it threw, to be thrown again by the writing thread
        std::size_t points = 0;    // the geometry's points, for the room it takes
    };

    // Starts `threads` workers over the records (in the order they will be asked for) of the open
    // handle `file`. The handle, the records and what `build` reads must outlive the object.
    GeometryPrefetch(const Iso8211File* file, std::vector<const ObjectRec*> records, Build build, unsigned threads,
                     std::size_t points);
    // Stops the workers and waits for them; what nobody asked for is let go.
    ~GeometryPrefetch();
    GeometryPrefetch(const GeometryPrefetch&) = delete;
    GeometryPrefetch& operator=(const GeometryPrefetch&) = delete;

    // The geometry of `rec`, waiting until it is built; null when `rec` is none of the records, was
    // passed over, or had no kept copy (the caller then builds it itself). The geometries before it
    // that were never asked for are let go.
    std::unique_ptr<Prepared> take(const ObjectRec* rec);

    // Worker threads for a cell of `records` features to build ahead: 0 when it does not pay.
    static unsigned threadsFor(std::size_t records);

private:
    struct Slot {
        const ObjectRec* rec = nullptr;
        std::unique_ptr<Prepared> prepared;
        bool claimed = false;  // a worker took it
        bool done = false;
        bool abandoned = false;  // passed over while it was being built
    };

    void work();

    const Iso8211File* file_;
    Build build_;
    std::size_t budget_;
    std::vector<Slot> slots_;
    std::unordered_map<const ObjectRec*, std::size_t> index_;
    std::mutex mutex_;
    std::condition_variable ready_;  // a slot is done
    std::condition_variable room_;   // room was made, or the workers are to stop
    std::size_t next_ = 0;           // the slot the next worker takes
    std::size_t taken_ = 0;          // the slots before it were asked for or passed over
    std::size_t held_ = 0;           // the points of the slots built and not yet asked for
    bool stop_ = false;
    std::vector<std::thread> threads_;
};
