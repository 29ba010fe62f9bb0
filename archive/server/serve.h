#pragma once
// oneseg-archive serve: the archive's web pages, kept current as `follow` does.

// argv[0] is "serve".
int run_serve(int argc, char** argv);
