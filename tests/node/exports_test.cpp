/* The built module's export table, read from the file: exactly the entry point
 * and the three instance callbacks. */
#include <gtest/gtest.h>
#include <algorithm>
#include "module_loader.h"
#include "pe_reader.h"

TEST(ModuleImage, ExportsExactlyTheEntryPointAndTheThreeCallbacks)
{
    pe::Image image(testing_support::exe_directory() + "parse_measurement.dll");
    ASSERT_TRUE(image.valid());
    auto names = image.export_names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"__cnode_EntryPoint", "__cnode_abort_callback",
                                               "__cnode_reserve_callback", "__cnode_unreserve_callback"}));
}

TEST(ModuleImage, ImportsOnlySystemAndHostLibraries)
{
    pe::Image image(testing_support::exe_directory() + "parse_measurement.dll");
    ASSERT_TRUE(image.valid());
    const std::vector<std::string> allowed = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll",
                                              "qex_gwrt.dll"};
    for (std::string dll : image.imported_dlls()) {
        std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::tolower(c); });
        bool ok = std::find(allowed.begin(), allowed.end(), dll) != allowed.end() || dll.rfind("api-ms-win-", 0) == 0;
        EXPECT_TRUE(ok) << "unexpected import " << dll;
    }
}
