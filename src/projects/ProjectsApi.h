#pragma once
// What libcorvane_projects.so shows to the program and to other programs. Everything else in the
// library, its copy of the core included, stays hidden, so that the library and the program that
// loads it never trade internal symbols.
#define CORVANE_PROJECTS_API __attribute__((visibility("default")))
