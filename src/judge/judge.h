// The judge: compiles a submission and runs it on the exercise's cases.
#pragma once

// Body of POST /api/judge in, verdict or error JSON out (malloc'ed; the caller frees).
// A second submission while one runs is refused, never queued.
char* judge_code(const char* body);
