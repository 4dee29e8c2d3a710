/* The batch runner. A line is parsed with the JSON library's event parser
 * straight into the inputs (no document is built); an answer is appended to
 * its chunk's output text. Lines travel in chunks (what one read brings, cut
 * at the last line end), so a line typed at a console is answered at once and
 * a large input moves in large pieces. */
#include "batch.h"
#include <io.h>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>
#include "output.h"

namespace cnode_run {

namespace {

/* A line longer than this is answered as malformed without being kept. */
constexpr size_t kMaxLine = 1 << 20;
constexpr size_t kReadSize = 1 << 16;
/* Chunks in flight per worker: enough to keep every worker busy while the
 * writer waits for the oldest. */
constexpr size_t kWindowPerWorker = 4;

enum : int { kNodeError = 1, kMalformed = 2 };

struct Span {
    size_t offset, length;
    bool too_long;
};

struct Chunk {
    long first_number = 1; /* the first line's number; the others follow */
    std::string text;
    std::vector<Span> lines;
    std::string output;
    int flags = 0;
};

/* Cuts the input into chunks of whole lines. A last line without its line end
 * still counts. */
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd), buffer_(kReadSize) {}

    /* False at the end of the input (or on a read error: see error()). */
    bool next(Chunk &chunk)
    {
        chunk.text.clear();
        chunk.lines.clear();
        chunk.output.clear();
        chunk.flags = 0;
        chunk.first_number = number_;
        while (!ended_) {
            int n = _read(fd_, buffer_.data(), static_cast<unsigned>(buffer_.size()));
            if (n < 0) error_ = errno;
            if (n <= 0) {
                ended_ = true;
                if (!partial_.empty() || partial_too_long_) end_line(chunk);
                break;
            }
            const char *p = buffer_.data(), *end = p + n;
            while (p < end) {
                const char *newline = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
                const char *stop = newline ? newline : end;
                if (!partial_too_long_) {
                    if (partial_.size() + static_cast<size_t>(stop - p) > kMaxLine) {
                        partial_too_long_ = true;
                        partial_.clear();
                    } else {
                        partial_.append(p, stop);
                    }
                }
                if (!newline) break;
                end_line(chunk);
                p = newline + 1;
            }
            if (!chunk.lines.empty()) break;
        }
        return !chunk.lines.empty();
    }

    int error() const { return error_; }

private:
    void end_line(Chunk &chunk)
    {
        if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
        chunk.lines.push_back({chunk.text.size(), partial_.size(), partial_too_long_});
        chunk.text += partial_;
        partial_.clear();
        partial_too_long_ = false;
        ++number_;
    }

    int fd_;
    std::vector<char> buffer_;
    std::string partial_;
    bool partial_too_long_ = false, ended_ = false;
    long number_ = 1;
    int error_ = 0;
};

const char *const kIgnoredPositions[] = {"samp_indx", "freq_indx", "cap_indx",      "loss_indx",
                                         "unit_indx", "volt_indx", "err_code_indx", "err_msg_indx"};

/* Events of one line's JSON, taken straight into the inputs and the incoming
 * error. The first problem is kept; an invalid document wins over any problem
 * of its members (it is reported as "not valid JSON"). */
class LineEvents final : public nlohmann::json_sax<nlohmann::json> {
public:
    LineEvents(Inputs &in, IncomingError &err) : in_(in), err_(err) {}

    bool invalid = false;
    std::string problem;

    bool null() override { return scalar(Kind::Other, 0, 0, nullptr); }
    bool boolean(bool) override { return scalar(Kind::Other, 0, 0, nullptr); }
    bool number_integer(number_integer_t v) override { return scalar(Kind::Integer, v, 0, nullptr); }
    bool number_unsigned(number_unsigned_t v) override { return scalar(Kind::Unsigned, 0, v, nullptr); }
    bool number_float(number_float_t, const string_t &) override { return scalar(Kind::Other, 0, 0, nullptr); }
    bool string(string_t &v) override { return scalar(Kind::String, 0, 0, &v); }
    bool binary(binary_t &) override { return scalar(Kind::Other, 0, 0, nullptr); }

    bool start_object(std::size_t) override
    {
        if (skipping_ > 0 || (depth_ > 0 && !(depth_ == 1 && member_ == kError))) return container();
        if (depth_ == 0 && seen_top_) return container();
        seen_top_ = true;
        ++depth_;
        return true;
    }
    bool end_object() override
    {
        if (skipping_ > 0) --skipping_;
        else --depth_;
        return true;
    }
    bool start_array(std::size_t) override { return container(); }
    bool end_array() override
    {
        --skipping_;
        return true;
    }
    bool key(string_t &k) override
    {
        if (skipping_ > 0) return true;
        key_.swap(k);
        member_ = member_of(key_);
        return true;
    }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override
    {
        invalid = true;
        return false;
    }

private:
    enum class Kind { Integer, Unsigned, String, Other };
    /* What a key names: an input (its index in kInputFields), a member of the
     * error, one of the output's positions, or nothing known. */
    static constexpr int kInputCount = static_cast<int>(std::size(kInputFields));
    enum : int { kStatus = kInputCount, kCode, kSource, kError, kPosition, kUnknown };
    static int member_of(const std::string &key)
    {
        for (int f = 0; f < kInputCount; ++f)
            if (key == kInputFields[f].key) return f;
        if (key == "status") return kStatus;
        if (key == "code") return kCode;
        if (key == "source") return kSource;
        if (key == "error") return kError;
        for (const char *name : kIgnoredPositions)
            if (key == name) return kPosition;
        return kUnknown;
    }

    void fail(std::string text)
    {
        if (problem.empty()) problem = std::move(text);
    }
    /* An object or array where a plain value belongs: skipped to its end. */
    bool container()
    {
        if (depth_ == 0) fail("not a JSON object");
        else value_problem();
        ++skipping_;
        return true;
    }
    /* What is wrong with a value of the wrong kind under the current key. */
    void value_problem()
    {
        if (depth_ == 1 && member_ == kError) return fail("value of \"error\" is not an object");
        if (member_ == kSource) return fail("value of \"source\" is not a string");
        if (known_integer()) return fail("value of \"" + key_ + "\" is not an integer");
        fail("unknown field \"" + (depth_ == 2 ? "error." + key_ : key_) + "\"");
    }
    bool known_integer() const
    {
        if (member_ == kStatus || member_ == kCode) return true;
        return depth_ == 1 && (member_ < kInputCount || member_ == kPosition);
    }
    bool integer(int64_t lo, int64_t hi, Kind kind, int64_t i, uint64_t u, int32_t &out)
    {
        bool in_range = kind == Kind::Unsigned ? u <= static_cast<uint64_t>(hi) : (i >= lo && i <= hi);
        if (!in_range) {
            fail("value of \"" + key_ + "\" is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
            return false;
        }
        out = static_cast<int32_t>(kind == Kind::Unsigned ? static_cast<int64_t>(u) : i);
        return true;
    }
    bool scalar(Kind kind, int64_t i, uint64_t u, string_t *s)
    {
        if (skipping_ > 0) return true;
        if (depth_ == 0) {
            fail("not a JSON object");
            return true;
        }
        bool number = kind == Kind::Integer || kind == Kind::Unsigned;
        if (member_ == kSource) {
            if (kind == Kind::String) err_.source.swap(*s);
            else value_problem();
            return true;
        }
        if (!number || !known_integer()) {
            value_problem();
            return true;
        }
        int32_t v = 0;
        if (member_ == kStatus) {
            if (integer(0, 255, kind, i, u, v)) err_.status = static_cast<uint8_t>(v);
        } else if (member_ == kCode) {
            integer(INT32_MIN, INT32_MAX, kind, i, u, err_.code);
        } else if (member_ < kInputCount) {
            integer(INT32_MIN, INT32_MAX, kind, i, u, in_.*kInputFields[member_].field);
        }
        return true;
    }

    Inputs &in_;
    IncomingError &err_;
    std::string key_;
    int member_ = kUnknown;
    int depth_ = 0, skipping_ = 0;
    bool seen_top_ = false;
};

/* Runs every line of a chunk on one instance and appends the answers. The
 * source handle is the caller's, kept across its calls. */
void run_chunk(Host &host, void *instance, void *&source, const Options &options, Chunk &chunk)
{
    for (size_t i = 0; i < chunk.lines.size(); ++i) {
        const Span &line = chunk.lines[i];
        long number = chunk.first_number + static_cast<long>(i);
        if (line.too_long) {
            append_problem_line(chunk.output, number, "longer than " + std::to_string(kMaxLine) + " bytes");
            chunk.flags |= kMalformed;
            continue;
        }
        const char *text = chunk.text.data() + line.offset;
        if (std::string_view(text, line.length).find_first_not_of(" \t") == std::string_view::npos) continue;
        Inputs in = options.inputs;
        IncomingError err = options.error;
        LineEvents events(in, err);
        nlohmann::json::sax_parse(text, text + line.length, &events);
        if (events.invalid || !events.problem.empty()) {
            append_problem_line(chunk.output, number, events.invalid ? "not valid JSON" : events.problem);
            chunk.flags |= kMalformed;
            continue;
        }
        Outputs out = host.call(instance, in, err, source);
        if (out.status != 0) chunk.flags |= kNodeError;
        append_json_line(chunk.output, out);
    }
}

/* Writes a chunk's answers; false with the reason when the output fails. The
 * bytes go to the stream's descriptor in one write where it takes them all
 * (whatever the stream holds is flushed first): the C runtime's stream writes
 * to a character device, the null device among them, a line at a time. */
bool write_chunk(std::FILE *out, const Chunk &chunk, std::string &failure)
{
    if (chunk.output.empty()) return true;
    errno = 0;
    bool written = std::fflush(out) == 0;
    const char *p = chunk.output.data();
    size_t left = chunk.output.size();
    while (written && left > 0) {
        unsigned piece = left > (1u << 30) ? (1u << 30) : static_cast<unsigned>(left);
        int n = _write(_fileno(out), p, piece);
        written = n > 0;
        if (written) p += n, left -= static_cast<size_t>(n);
    }
    if (written) return true;
    failure = std::string("cannot write the output: ") + (errno ? std::strerror(errno) : "write error");
    return false;
}

int exit_status(int flags)
{
    if (flags & kMalformed) return kExitMalformed;
    return flags & kNodeError ? kExitError : kExitOk;
}

/* One instance per worker, each on a cache line of its own. */
struct alignas(64) InstanceTag {
    char tag;
};

/* Several workers, and no other thread: each worker reads the next chunk
 * itself, runs it on its own instance, and writes every finished chunk whose
 * turn has come. A reader or writer thread of its own would take turns with
 * the workers for the same processors, and every hand-over to it would cost a
 * wake-up.
 *
 * Rules kept:
 * - Chunks are numbered as they are read (under the read lock), and written
 *   strictly in that order: a finished chunk waits in `finished` until every
 *   earlier one is out.
 * - At most `window` chunks are between being reserved for reading and being
 *   written, whatever the input's length: a worker waits for room first.
 * - One worker at a time writes (`writing`). Whoever leaves a chunk in
 *   `finished` while nobody writes becomes the writer, and a writer stops
 *   only when the next chunk is not finished yet, deciding that under the
 *   state lock: so no finished chunk is left behind.
 * - Reading has a lock of its own, so a worker that waits for input (a
 *   console) holds up only the other readers, never a finished answer. */
int run_parallel(Host &host, const Options &options, unsigned threads, LineReader &reader, std::FILE *out,
                 std::string &failure)
{
    std::vector<InstanceTag> instances(threads);
    for (InstanceTag &t : instances) host.reserve(&t);

    std::mutex read_lock;
    long next_read = 0;     /* the number of the next chunk read; guarded by read_lock */
    bool input_ended = false; /* guarded by read_lock */

    std::mutex m; /* guards everything below */
    std::condition_variable room;
    std::map<long, std::unique_ptr<Chunk>> finished;
    std::vector<std::unique_ptr<Chunk>> spare; /* written chunks, reused */
    long next_write = 0;
    size_t in_flight = 0;
    bool writing = false, write_failed = false, stop = false;
    int flags = 0;
    const size_t window = kWindowPerWorker * threads;

    auto worker = [&](void *instance) {
        void *source = nullptr;
        for (;;) {
            std::unique_ptr<Chunk> chunk;
            {
                std::unique_lock<std::mutex> lock(m);
                room.wait(lock, [&] { return stop || in_flight < window; });
                if (stop) break;
                ++in_flight;
                if (!spare.empty()) {
                    chunk = std::move(spare.back());
                    spare.pop_back();
                }
            }
            if (!chunk) chunk = std::make_unique<Chunk>();
            long number = -1;
            {
                std::lock_guard<std::mutex> lock(read_lock);
                if (!input_ended && reader.next(*chunk)) number = next_read++;
                else input_ended = true;
            }
            std::unique_lock<std::mutex> lock(m);
            if (number < 0) {
                --in_flight;
                stop = true;
                room.notify_all();
                break;
            }
            if (!write_failed) {
                lock.unlock();
                run_chunk(host, instance, source, options, *chunk);
                lock.lock();
            }
            finished.emplace(number, std::move(chunk));
            if (writing) continue;
            writing = true;
            while (!finished.empty() && finished.begin()->first == next_write) {
                std::unique_ptr<Chunk> next = std::move(finished.begin()->second);
                finished.erase(finished.begin());
                ++next_write;
                bool skip = write_failed;
                lock.unlock();
                bool written = skip || write_chunk(out, *next, failure);
                lock.lock();
                flags |= next->flags;
                if (!written) write_failed = stop = true;
                spare.push_back(std::move(next));
                --in_flight;
                room.notify_all();
            }
            writing = false;
        }
        host.release_source(source);
    };

    std::vector<std::thread> workers;
    for (unsigned w = 1; w < threads; ++w) workers.emplace_back(worker, &instances[w]);
    worker(&instances[0]);
    for (std::thread &t : workers) t.join();
    for (InstanceTag &t : instances) host.unreserve(&t);
    return write_failed ? kExitWrite : exit_status(flags);
}

} // namespace

int run_batch(Host &host, const Options &options, int in, std::FILE *out, std::string &failure)
{
    LineReader reader(in);
    unsigned threads = options.threads;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    int status;
    if (threads == 1) {
        int flags = 0;
        Chunk chunk;
        void *source = nullptr;
        status = kExitOk;
        while (reader.next(chunk)) {
            run_chunk(host, host.instance(), source, options, chunk);
            flags |= chunk.flags;
            if (!write_chunk(out, chunk, failure)) {
                status = kExitWrite;
                break;
            }
        }
        host.release_source(source);
        if (status != kExitWrite) status = exit_status(flags);
    } else {
        status = run_parallel(host, options, threads, reader, out, failure);
    }
    if (status != kExitWrite && reader.error()) {
        failure = std::string("cannot read the input: ") + std::strerror(reader.error());
        return kExitWrite;
    }
    return status;
}

} // namespace cnode_run
