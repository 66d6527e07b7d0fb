#pragma once

struct AppConfig;
struct CommandLineOptions;

// Makes the browser-feed token the command line asks for: its hash goes to
// the settings, the token itself to standard output, once. The exit status.
int MakeFeedToken(const AppConfig& config, const CommandLineOptions& options);
