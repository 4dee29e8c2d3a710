/* cnode-run's batch throughput: 10^5 generated lines run through the batch
 * runner of the program (the same code, in this process) with one and with
 * two worker threads, reading a file and writing to the null device, against
 * the bare entry-call rate through the same host measured in the same run;
 * and the same runs with the program's small-block keeping switched off. */
#include <fcntl.h>
#include <io.h>
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>
#include "batch.h"
#include "harness.h"
#include "host.h"
#include "small_blocks.h"

using namespace cnode_run;

namespace {

constexpr long kLines = 100000;

std::string generated_input()
{
    std::mt19937 rng(11);
    const char *names[] = {"label", "err_code", "samp", "freq", "cap", "loss", "volt", "size"};
    std::string text;
    for (long i = 0; i < kLines; ++i) {
        text += '{';
        bool first = true;
        for (const char *name : names) {
            if (rng() % 5 == 0) continue;
            text += (first ? "\"" : ",\"") + std::string(name) + "\":" + std::to_string(int(rng() % 50) - 10);
            first = false;
        }
        if (i % 10 == 0) text += std::string(first ? "" : ",") + "\"error\":{\"status\":0,\"code\":0,\"source\":\"s\"}";
        text += "}\n";
    }
    return text;
}

/* Lines per second of one batch run with the given thread count; 0 when the
 * run fails. */
double batch_lines_per_second(Host &host, const std::string &input_path, unsigned threads)
{
    Options options;
    options.batch = true;
    options.threads = threads;
    int in = _open(input_path.c_str(), _O_RDONLY | _O_BINARY);
    std::FILE *out = std::fopen("NUL", "wb");
    if (in < 0 || !out) return 0;
    std::string failure;
    double t0 = bench::now_ns();
    int status = run_batch(host, options, in, out, failure);
    double t1 = bench::now_ns();
    _close(in);
    std::fclose(out);
    if (status != kExitOk) {
        std::fprintf(stderr, "batch run ended with %d %s\n", status, failure.c_str());
        return 0;
    }
    return kLines * 1e9 / (t1 - t0);
}

} // namespace

int main()
{
    Host host;
    std::string error;
    if (!host.load("", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string path = std::string(dir) + "cnode_batch_bench_" + std::to_string(GetCurrentProcessId()) + ".jsonl";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::string input = generated_input();
    if (!f || std::fwrite(input.data(), 1, input.size(), f) != input.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 2;
    }

    Inputs in;
    IncomingError err;
    double entry_ns = bench::median_ns_per_op(
        [&](long ops) {
            for (long i = 0; i < ops; ++i) {
                in.loss = static_cast<int32_t>(i & 1);
                bench::keep(host.call(in, err).samp_indx);
            }
        },
        20000, 7, 2);
    /* Each round runs the batch with one and with two threads, with freed
     * small blocks kept per thread and with every block going back to the C
     * runtime's heap, back to back, so that the ratios of a round compare
     * runs made under the same state of the machine. */
    constexpr int kRounds = 7;
    std::vector<double> one, two, one_heap, two_heap, scaling, kept_gain;
    for (int r = 0; r < kRounds; ++r) {
        keep_small_blocks(true);
        double o = batch_lines_per_second(host, path, 1), t = batch_lines_per_second(host, path, 2);
        keep_small_blocks(false);
        double oh = batch_lines_per_second(host, path, 1), th = batch_lines_per_second(host, path, 2);
        keep_small_blocks(true);
        if (o <= 0 || t <= 0 || oh <= 0 || th <= 0) return 1;
        one.push_back(o), two.push_back(t), one_heap.push_back(oh), two_heap.push_back(th);
        scaling.push_back(t / o);
        kept_gain.push_back((o + t) / (oh + th));
    }
    std::remove(path.c_str());

    double entry_rate = 1e9 / entry_ns;
    std::printf("%-44s %12.0f calls/s\n", "entry call through the host", entry_rate);
    std::printf("%-44s %12.0f lines/s   %5.2f of the entry-call rate\n", "batch, 1 thread", bench::median(one),
                bench::median(one) / entry_rate);
    std::printf("%-44s %12.0f lines/s   %5.2f of the entry-call rate   ratio to 1 thread %5.2f\n",
                "batch, 2 threads", bench::median(two), bench::median(two) / entry_rate, bench::median(scaling));
    std::printf("%-44s %12.0f lines/s (1 thread) %12.0f lines/s (2 threads)\n",
                "batch, every small block back to the heap", bench::median(one_heap), bench::median(two_heap));
    std::printf("small blocks kept per thread / back to the heap: %.2f (median of %d rounds)\n", bench::median(kept_gain),
                kRounds);
    return 0;
}
