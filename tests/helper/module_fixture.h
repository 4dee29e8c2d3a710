/* The real node module, loaded fresh for each test the way the engine loads
 * it, with what the tests of its helper runtime need around it: host strings
 * for the error cluster, entry calls checked against an independent model of
 * the computation, and a thread that makes abort requests on demand. */
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <string>
#include <thread>
#include "cnode.h"
#include "field_model.h"
#include "module_loader.h"
#include "standin_memory.h"
#include "standin_rte.h"

namespace helper_test {

struct Outputs {
    int32_t cap_indx, err_code_indx, err_msg_indx, freq_indx, loss_indx, samp_indx, unit_indx, volt_indx;
};

/* Outputs the node cannot produce, to see which ones a call wrote. */
inline Outputs untouched_outputs() { return {111, 112, 113, 114, 115, 116, 117, 118}; }

inline bool same(const Outputs &a, const Outputs &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline Outputs expected_outputs(const model::In &in)
{
    model::Out o = model::positions(in);
    return {o.cap_indx, o.err_code_indx, o.err_msg_indx, o.freq_indx,
            o.loss_indx, o.samp_indx, o.unit_indx, o.volt_indx};
}

/* A host string for the cluster's source text. */
class SourceText {
public:
    explicit SourceText(const char *text)
        : text_(text), handle_(reinterpret_cast<LStrHandle>(
                           standin_mem_new_string(text, static_cast<int32_t>(std::strlen(text)))))
    {
    }
    ~SourceText() { DSDisposeHandle(reinterpret_cast<UHandle>(handle_)); }
    SourceText(const SourceText &) = delete;
    SourceText &operator=(const SourceText &) = delete;
    LStrHandle handle() const { return handle_; }
    /* True when the string came back as it went in. */
    bool intact() const
    {
        return (*handle_)->cnt == static_cast<int32_t>(text_.size()) &&
               std::memcmp((*handle_)->str, text_.data(), text_.size()) == 0;
    }

private:
    std::string text_;
    LStrHandle handle_;
};

struct CallResult {
    __cnode_gwerror cluster;
    Outputs outputs;
};

inline CallResult call_entry(__cnode_EntryPoint_t entry, void *instance, const model::In &in, LStrHandle source,
                             uint8_t status = 0, int32_t code = 0)
{
    CallResult r{{status, code, source}, untouched_outputs()};
    Outputs &o = r.outputs;
    entry(instance, in.cap, in.err_code, in.freq, in.label, in.loss, in.samp, in.size, in.volt, &o.cap_indx,
          &o.err_code_indx, &o.err_msg_indx, &r.cluster, &o.freq_indx, &o.loss_indx, &o.samp_indx, &o.unit_indx,
          &o.volt_indx);
    return r;
}

/* Inputs with every field present and within the reply. */
inline model::In typical_inputs() { return {1, 0, 1, 1, 1, 1, 1, 40}; }

/* A thread of its own that sends an abort request whenever asked and waits
 * until the request has been handled. */
class Aborter {
public:
    Aborter(__cnode_callback_t abort, void *instance)
        : abort_(abort), instance_(instance), request_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
          done_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), thread_([this] { run(); })
    {
    }
    ~Aborter()
    {
        stop_ = true;
        SetEvent(request_);
        thread_.join();
        CloseHandle(request_);
        CloseHandle(done_);
    }
    Aborter(const Aborter &) = delete;
    Aborter &operator=(const Aborter &) = delete;

    void request()
    {
        SetEvent(request_);
        WaitForSingleObject(done_, INFINITE);
        ++requests_;
    }
    long requests() const { return requests_; }

private:
    void run()
    {
        for (;;) {
            WaitForSingleObject(request_, INFINITE);
            if (stop_) return;
            abort_(instance_);
            SetEvent(done_);
        }
    }

    __cnode_callback_t abort_;
    void *instance_;
    HANDLE request_, done_;
    volatile bool stop_ = false;
    long requests_ = 0;
    std::thread thread_;
};

/* The engine stand-in's lock hooks, acting only on one thread: each time that
 * thread reaches the hooked moment, the aborter sends its request. */
class AbortAtLockMoments {
public:
    enum Moment { kBeforeTakingTheLock, kAfterReleasingTheLock };
    AbortAtLockMoments(Aborter &aborter, Moment moment) : aborter_(aborter), thread_(GetCurrentThreadId())
    {
        standin_rte_set_lock_hooks(moment == kBeforeTakingTheLock ? &hook : nullptr,
                                   moment == kAfterReleasingTheLock ? &hook : nullptr, this);
    }
    ~AbortAtLockMoments() { standin_rte_set_lock_hooks(nullptr, nullptr, nullptr); }
    AbortAtLockMoments(const AbortAtLockMoments &) = delete;
    AbortAtLockMoments &operator=(const AbortAtLockMoments &) = delete;

private:
    static void hook(int, void *context)
    {
        auto *self = static_cast<AbortAtLockMoments *>(context);
        if (GetCurrentThreadId() == self->thread_) self->aborter_.request();
    }
    Aborter &aborter_;
    DWORD thread_;
};

/* Loads the module for one test and unloads it afterwards, so each test
 * starts with the module's state fresh. */
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        standin_rte_reset();
        standin_mem_reset();
        blocks_before_load_ = standin_rte_live_blocks();
        locks_before_load_ = standin_rte_live_locks();
        ASSERT_TRUE(module_.load()) << "cannot load parse_measurement.dll";
    }
    void TearDown() override
    {
        standin_rte_set_lock_hooks(nullptr, nullptr, nullptr);
        module_.unload();
        standin_rte_reset();
        standin_mem_reset();
    }
    /* Thread-local look-ups of one quiet call on a reserved instance. While
     * some abort is pending anywhere, every stoppoint adds one, so equal
     * counts before and after a scenario show that no count was left over. */
    long lookups_of_one_call(void *instance)
    {
        SourceText source("quiet");
        long before = standin_rte_tlv_get_calls();
        CallResult r = call_entry(module_.entry, instance, typical_inputs(), source.handle());
        long lookups = standin_rte_tlv_get_calls() - before;
        EXPECT_EQ(r.cluster.status, 0);
        EXPECT_TRUE(same(r.outputs, expected_outputs(typical_inputs())));
        return lookups;
    }

    testing_support::NodeModule module_;
    long blocks_before_load_ = 0;
    long locks_before_load_ = 0;
};

} // namespace helper_test
