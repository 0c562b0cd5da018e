#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/cli_commands.h"
#include "app/cli_copy.h"
#include "app/cli_export.h"
#include "app/cli_queue.h"
#include "app/cli_site_check.h"
#include "app/gui_app.h"
#include "app/options.h"
#include "storage/database_login.h"
#include "tools/demo_pages.h"
#include "tools/sample_marketplace.h"

namespace {

// The headless commands by name; no name is the windows.
const std::map<std::string, int (*)(const qinglan::Options&)> kCommands = {
    {"collect", qinglan::run_collect}, {"export", qinglan::run_export},
    {"tables", qinglan::run_tables},   {"forget", qinglan::run_forget},
    {"queue", qinglan::run_queue},     {"work", qinglan::run_work},
    {"copy", qinglan::run_copy}};

}  // namespace

int main(int argc, char** argv) {
    // A profile is checked against saved pages alone: no settings, no store.
    if (argc > 1 && std::string(argv[1]) == "site-check") {
        return qinglan::run_site_check(std::vector<std::string>(argv + 2, argv + argc));
    }
    qinglan::Options options;
    std::string error;
    if (!qinglan::parse_options(argc, argv, &options, &error)) {
        std::fprintf(stderr, "qinglan: %s\n%s", error.c_str(), qinglan::kUsage);
        return 2;
    }
    // Every server this process connects to without a login in its URL.
    qinglan::set_database_login({options.database_user, options.database_password});
    if (options.help) {
        std::fputs(qinglan::kUsage, stdout);
        std::printf("\nData folder in use: %s\nSettings file in use: %s\n",
                    options.data_dir.c_str(), qinglan::settings_path(options).c_str());
        return 0;
    }
    if (options.version) {
        std::printf("qinglan %s\n", QINGLAN_VERSION);
        return 0;
    }
    // Every command that takes keywords takes them from a file as well,
    // all of them checked before anything is opened or asked for.
    if (!qinglan::take_keywords_file(&options, &error)) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 2;
    }
    // A command reads by the chosen site or not at all; the windows say why
    // and keep the built-in one.
    if (!options.command.empty() && (!qinglan::load_chosen_site(&options, &error) ||
                                     !qinglan::check_searchable(options, &error))) {
        std::fprintf(stderr, "qinglan: %s\n", error.c_str());
        return 2;
    }
    // The demo serves its own marketplace and update server on 127.0.0.1 for
    // as long as the program runs.
    qinglan::SampleMarketplace demo_market;
    if (options.demo) {
        qinglan::load_demo_pages(demo_market);
        if (!demo_market.start()) {
            std::fprintf(stderr, "qinglan: cannot start the demo marketplace on 127.0.0.1\n");
            return 1;
        }
        options.hosts = {demo_market.search_host(), demo_market.member_host(),
                         demo_market.contact_domain()};
        options.update_host = demo_market.search_host();
    }
    if (const auto command = kCommands.find(options.command); command != kCommands.end()) {
        return command->second(options);
    }
    return qinglan::run_gui(argc, argv, options);
}
