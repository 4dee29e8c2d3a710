/* cnode-run: runs the node module in a host of its own.
 *
 * Exit status: 0 when every call came back with status 0, 1 when a call
 * reports an error, 2 for bad usage or a host that cannot be set up, 3 when
 * the output cannot be written (or the batch input not read), 4 when a batch
 * line was malformed. Standard input and output are binary: lines end in LF
 * and no byte of the input ends it early. Arguments are taken as UTF-8 from
 * the wide command line, the same bytes a batch line carries. */
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "batch.h"
#include "extensions.h"
#include "host.h"
#include "options.h"
#include "output.h"

using namespace cnode_run;

namespace {

/* The arguments after the program's name, converted from the wide command line. */
std::vector<std::string> utf8_arguments()
{
    std::vector<std::string> args;
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return args;
    for (int i = 1; i < argc; ++i) args.push_back(narrow(argv[i], wcslen(argv[i])));
    LocalFree(argv);
    return args;
}

/* The exit status once everything is written: a failed write on standard
 * output turns any status into 3, with the reason on standard error. The
 * reason is the error number of the failed write, so errno is cleared just
 * before the output is written (the C runtime leaves it alone on success). */
int finish(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "cnode-run: cannot write the output: %s\n", errno ? std::strerror(errno) : "write error");
    return kExitWrite;
}

} // namespace

int main()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    Options options;
    std::string help, problem;
    switch (parse_options(utf8_arguments(), options, help, problem)) {
    case Parsed::Help:
        errno = 0;
        std::fputs(help.c_str(), stdout);
        return finish(kExitOk);
    case Parsed::Usage:
        std::fprintf(stderr, "cnode-run: %s\n(try --help)\n", problem.c_str());
        return kExitUsage;
    case Parsed::Run: break;
    }

    Host host;
    std::string error;
    if (!host.load(options.module_path, error)) {
        std::fprintf(stderr, "cnode-run: %s\n", error.c_str());
        return kExitUsage;
    }
    errno = 0;
    if (auto status = run_extensions(options, host)) return finish(*status);
    if (options.batch) {
        std::string failure;
        int status = run_batch(host, options, _fileno(stdin), stdout, failure);
        if (status == kExitWrite) std::fprintf(stderr, "cnode-run: %s\n", failure.c_str());
        return status;
    }

    Outputs out = host.call(options.inputs, options.error);
    errno = 0;
    if (options.json)
        std::printf("%s\n", json_line(to_json(out)).c_str());
    else
        print_table(out);
    return finish(out.status != 0 ? kExitError : kExitOk);
}
