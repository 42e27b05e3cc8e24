// The judge: compiles a submission and runs it on the exercise's cases.
#pragma once

// Body of POST /api/judge in, verdict or error JSON out (malloc'ed; the caller frees).
// A second submission while one runs is refused, never queued.
char* judge_code(const char* body);

// Body of POST /api/run ({"code","lang","input"}) in: compiles the code and runs it once on
// the learner's own input, under the judge's limits and sandbox; shares the judge's busy flag.
char* judge_run(const char* body);

// GET /api/judge/progress: {"running","case" (0 while compiling),"total","stopping"}.
char* judge_progress();
// POST /api/judge/stop: the running submission runs no further case; {"ok":true}.
char* judge_stop();
