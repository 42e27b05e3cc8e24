// Windows-side helper of the bank test: runs many compiled solutions on their cases inside one
// process (so Wine starts once), and compares each output with the judge's own comparison.
//
//   bank_runner.exe <plan file> <result file> [workers]
//
// Plan, one item per line, fields separated by TAB:
//   P <name> <exe> <tokens|float> <stop: 1 = stop at the first case that does not pass> <time limit, ms>
//   C <input file> <expected output file>      (cases of the P line above, in order)
// Result: one line per program as it finishes, "<name> <verdicts>", one letter per case:
//   P passed, W wrong answer (or a NUL byte in the output), R exit code not 0,
//   T time limit, O output limit, L could not start, S skipped after a stop;
// then, for each wrong answer of a program that does not stop, "# <name> <case number> <output>"
// with the first 300 bytes of the output, control bytes and backslashes as \xHH.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "judge/judge_internal.h"

namespace {

constexpr DWORD output_cap = 65536;

struct test_case {
  std::string input, expected;
};

struct program {
  std::string name, exe;
  bool float_mode = false, stop = false;
  DWORD time_ms = 10000;
  std::vector<test_case> cases;
  std::string verdicts;
  std::vector<std::string> notes;  // outputs of wrong answers, for the report
};

std::wstring wide(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], n);
  return w;
}

bool read_file(const std::string& path, std::string& out) {
  FILE* f = _wfopen(wide(path).c_str(), L"rb");
  if (!f) return false;
  out.clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return true;
}

HANDLE open_inheritable(const std::wstring& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileW(path.c_str(), write ? GENERIC_WRITE | GENERIC_READ : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Workers start children at the same time; a child inherits every inheritable handle that
// exists at its start, so handles are inheritable only inside this lock, just for the one start.
CRITICAL_SECTION start_lock;

// One run: stdin from the input file, stdout into a scratch file, stderr discarded.
char run_case(const program& p, const test_case& c, const std::wstring& scratch, std::string* shown) {
  EnterCriticalSection(&start_lock);
  HANDLE in = open_inheritable(wide(c.input), false);
  HANDLE out = open_inheritable(scratch, true);
  HANDLE err = open_inheritable(L"NUL", true);
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) {
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    LeaveCriticalSection(&start_lock);
    return 'L';
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err != INVALID_HANDLE_VALUE ? err : out;
  PROCESS_INFORMATION pi{};
  std::wstring command = L"\"" + wide(p.exe) + L"\"";
  // No console at all: the solution only needs its three handles, and a console of its own
  // would mean one more process per start under Wine.
  BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                                nullptr, &si, &pi);
  CloseHandle(in);
  if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
  SetHandleInformation(out, HANDLE_FLAG_INHERIT, 0);
  LeaveCriticalSection(&start_lock);
  if (!started) {
    CloseHandle(out);
    return 'L';
  }
  CloseHandle(pi.hThread);
  char verdict = 0;
  if (WaitForSingleObject(pi.hProcess, p.time_ms) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 1);
    // Bounded: a process that does not go away must not hold up every program after it.
    WaitForSingleObject(pi.hProcess, 30000);
    verdict = 'T';
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  LARGE_INTEGER size{};
  GetFileSizeEx(out, &size);
  CloseHandle(out);
  if (verdict) return verdict;
  if (size.QuadPart > output_cap) return 'O';
  // The loader's own failures (a DLL not found or not initialised, a bad image) mean the
  // program never ran its first line: on a loaded machine Wine gives them now and then.
  if (code == 0xC0000135u || code == 0xC0000139u || code == 0xC0000142u || code == 0xC000007Bu) return 'L';
  if (code != 0) return 'R';
  std::string actual;
  std::string scratch_path;
  {
    int n = WideCharToMultiByte(CP_UTF8, 0, scratch.c_str(), -1, nullptr, 0, nullptr, nullptr);
    scratch_path.assign(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, scratch.c_str(), -1, &scratch_path[0], n, nullptr, nullptr);
  }
  if (!read_file(scratch_path, actual)) return 'L';
  if (actual.find('\0') != std::string::npos) return 'W';
  std::string expected;
  if (!read_file(c.expected, expected)) return 'L';
  if (outputs_match(actual.c_str(), expected.c_str(), p.float_mode)) return 'P';
  if (shown) {
    for (size_t i = 0; i < actual.size() && i < 300; ++i) {
      unsigned char ch = static_cast<unsigned char>(actual[i]);
      if (ch < 0x20 || ch == '\\' || ch >= 0x7f) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02x", ch);
        *shown += esc;
      } else {
        *shown += static_cast<char>(ch);
      }
    }
  }
  return 'W';
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bank_runner <plan> <result> [workers]\n");
    return 2;
  }
  std::string plan;
  if (!read_file(argv[1], plan)) {
    std::fprintf(stderr, "bank_runner: cannot read %s\n", argv[1]);
    return 2;
  }
  std::vector<program> programs;
  size_t pos = 0;
  while (pos < plan.size()) {
    size_t eol = plan.find('\n', pos);
    std::string line = plan.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
    pos = eol == std::string::npos ? plan.size() : eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> f = split_tabs(line);
    if (f[0] == "P" && f.size() == 6) {
      program p;
      p.name = f[1];
      p.exe = f[2];
      p.float_mode = f[3] == "float";
      p.stop = f[4] == "1";
      p.time_ms = static_cast<DWORD>(std::strtoul(f[5].c_str(), nullptr, 10));
      programs.push_back(p);
    } else if (f[0] == "C" && f.size() == 3 && !programs.empty()) {
      programs.back().cases.push_back({f[1], f[2]});
    } else {
      std::fprintf(stderr, "bank_runner: bad plan line: %s\n", line.c_str());
      return 2;
    }
  }

  // As the program itself does: a solution that crashes ends at once with its exception code,
  // and no debugger or error box is started for it (under Wine each would be one more process
  // that may outlive the run). The children inherit this mode.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  InitializeCriticalSection(&start_lock);
  // Each program's line is written as soon as it is judged, so a run that is cut short still
  // tells which programs finished (the test names the ones that did not).
  FILE* out = _wfopen(wide(argv[2]).c_str(), L"wb");
  if (!out) {
    std::fprintf(stderr, "bank_runner: cannot write %s\n", argv[2]);
    return 2;
  }
  CRITICAL_SECTION out_lock;
  InitializeCriticalSection(&out_lock);
  int workers = argc > 3 ? std::atoi(argv[3]) : 2;
  if (workers < 1) workers = 1;
  wchar_t temp[MAX_PATH];
  DWORD len = GetTempPathW(MAX_PATH, temp);
  std::wstring temp_dir(temp, len);
  std::atomic<size_t> next{0};
  std::vector<std::thread> pool;
  for (int w = 0; w < workers; ++w) {
    pool.emplace_back([&, w] {
      std::wstring scratch = temp_dir + L"bank-runner-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(w) + L".out";
      for (size_t i; (i = next++) < programs.size();) {
        program& p = programs[i];
        bool stopped = false;
        for (const test_case& c : p.cases) {
          std::string shown;
          char v = stopped ? 'S' : run_case(p, c, scratch, p.stop ? nullptr : &shown);
          // A start that failed says nothing about the solution: try it again. Nor does a
          // reference's time-out on a machine busy with other work (its limit is far above
          // what it needs): it gets one more run.
          for (int retry = 0; v == 'L' && retry < 2; ++retry) v = run_case(p, c, scratch, p.stop ? nullptr : &shown);
          if (v == 'T' && !p.stop) v = run_case(p, c, scratch, &shown);
          p.verdicts += v;
          if (v == 'W' && !p.stop) p.notes.push_back(std::to_string(p.verdicts.size()) + " " + shown);
          if (v != 'P' && p.stop) stopped = true;
        }
        EnterCriticalSection(&out_lock);
        std::fprintf(out, "%s %s\n", p.name.c_str(), p.verdicts.c_str());
        for (const std::string& note : p.notes) std::fprintf(out, "# %s %s\n", p.name.c_str(), note.c_str());
        std::fflush(out);
        LeaveCriticalSection(&out_lock);
      }
      DeleteFileW(scratch.c_str());
    });
  }
  for (auto& t : pool) t.join();
  std::fclose(out);
  return 0;
}
