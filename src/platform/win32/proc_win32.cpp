// Limited child processes on Windows: one job object per run (kill on close, active-process
// limit, per-process memory limit), a suspended start, and a watch loop of 15 ms waits.
#include <windows.h>

#include <vector>

#include "platform/fs.h"
#include "platform/proc.h"
#include "platform/win32/wide.h"

namespace plat {

using win::handle_guard;
using win::widen;

namespace {

// The result of a run that never started: the call that failed and its error.
run_result not_started(const char* call) {
  run_result r{};
  r.failed_step = call;
  r.failed_error = GetLastError();
  return r;
}

// The process environment with TMP and TEMP pointing at folder, as a CreateProcessW block.
// A compiler killed mid-way leaves its scratch files behind: they then stay in the work folder,
// which the judge removes, rather than in the user's temporary folder.
std::vector<wchar_t> environment_with_temp(const std::wstring& folder) {
  std::vector<wchar_t> block;
  if (wchar_t* env = GetEnvironmentStringsW()) {
    for (const wchar_t* e = env; *e; e += wcslen(e) + 1) {
      if (_wcsnicmp(e, L"TMP=", 4) == 0 || _wcsnicmp(e, L"TEMP=", 5) == 0) continue;
      block.insert(block.end(), e, e + wcslen(e) + 1);
    }
    FreeEnvironmentStringsW(env);
  }
  for (const wchar_t* name : {L"TMP=", L"TEMP="}) {
    std::wstring entry = name + folder;
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

// One limited run with the given (inheritable) standard handles.
run_result run_with(const std::string& command_line, const std::string& work_dir, HANDLE in,
                    HANDLE out, uint32_t time_limit_ms, bool compile_mode) {
  handle_guard job(CreateJobObjectW(nullptr, nullptr));
  if (!job.valid()) return not_started("CreateJobObject");
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                            JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                                            JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
  limits.BasicLimitInformation.ActiveProcessLimit = compile_mode ? 12 : 1;
  limits.ProcessMemoryLimit = SIZE_T(compile_mode ? compile_memory_limit : run_memory_limit);
  if (!SetInformationJobObject(job.h, JobObjectExtendedLimitInformation, &limits, sizeof limits))
    return not_started("SetInformationJobObject");

  std::wstring line = widen(command_line);
  std::vector<wchar_t> writable(line.begin(), line.end());
  writable.push_back(L'\0');
  std::wstring dir = widen(work_dir);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = out;
  std::vector<wchar_t> environment;
  if (compile_mode) environment = environment_with_temp(dir);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                      compile_mode ? environment.data() : nullptr, dir.c_str(), &si, &pi))
    return not_started("CreateProcess");
  handle_guard process(pi.hProcess);
  handle_guard thread(pi.hThread);
  if (!AssignProcessToJobObject(job.h, pi.hProcess)) {
    const run_result failed = not_started("AssignProcessToJobObject");
    TerminateProcess(pi.hProcess, run_killed_exit_code);
    return failed;
  }

  run_result r{};
  r.started = 1;
  const DWORD start = GetTickCount();
  ResumeThread(pi.hThread);
  thread.close_now();

  for (;;) {
    // Sleep until the earlier of its end, the next output check and its deadline.
    const DWORD used = GetTickCount() - start;
    DWORD pause = run_poll_ms;
    if (used <= time_limit_ms && time_limit_ms - used + 1 < pause) pause = time_limit_ms - used + 1;
    if (used > time_limit_ms) pause = 0;
    const DWORD wait = WaitForSingleObject(pi.hProcess, pause);
    // The size test comes first: a flood that ended by itself is still a flood.
    LARGE_INTEGER size;
    if (GetFileSizeEx(out, &size) && uint64_t(size.QuadPart) > run_output_limit) {
      r.output_limited = 1;
      TerminateJobObject(job.h, run_killed_exit_code);
      break;
    }
    if (wait == WAIT_OBJECT_0) break;
    if (DWORD(GetTickCount() - start) > time_limit_ms) {
      r.timed_out = 1;
      TerminateJobObject(job.h, run_killed_exit_code);
      break;
    }
  }
  WaitForSingleObject(pi.hProcess, run_final_wait_ms);
  r.elapsed_ms = GetTickCount() - start;
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  // Caught while running or just after its own end is a matter of timing; an output over the
  // limit always reads as our kill.
  r.exit_code = r.output_limited ? run_killed_exit_code : code;
  return r;  // closing the job (kill on close) ends anything still in it
}

}  // namespace

// The kept files: opened once, shared for reading and writing but never for deletion, so that
// while the judge holds them a program can neither delete nor rename them (nor put a hard link
// or junction in their place); and the judge never opens them by name again anyway.
run_files::~run_files() { close(); }

void run_files::close() {
  if (input_ != -1) CloseHandle(reinterpret_cast<HANDLE>(input_));
  if (output_ != -1) CloseHandle(reinterpret_cast<HANDLE>(output_));
  input_ = output_ = -1;
}

namespace {
HANDLE create_kept(const std::string& path) {
  HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

bool rewind_and_cut(HANDLE h, bool cut) {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) && (!cut || SetEndOfFile(h));
}

// An inheritable duplicate with only the access the child needs.
HANDLE for_child(HANDLE h, DWORD access) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, access, TRUE, 0))
    return INVALID_HANDLE_VALUE;
  return copy;
}
}  // namespace

bool run_files::create(const std::string& input_path, const std::string& output_path) {
  if (ready()) return false;
  HANDLE in = create_kept(input_path);
  if (in == INVALID_HANDLE_VALUE) return false;
  HANDLE out = create_kept(output_path);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return false;
  }
  input_ = reinterpret_cast<intptr_t>(in);
  output_ = reinterpret_cast<intptr_t>(out);
  return true;
}

bool run_files::set_input(std::string_view text) {
  if (!ready()) return false;
  HANDLE h = reinterpret_cast<HANDLE>(input_);
  if (!rewind_and_cut(h, true)) return false;
  size_t done = 0;
  while (done < text.size()) {
    DWORD chunk = DWORD(text.size() - done > (1u << 30) ? (1u << 30) : text.size() - done), put = 0;
    if (!WriteFile(h, text.data() + done, chunk, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return rewind_and_cut(h, false);
}

std::optional<std::string> run_files::output_head(uint64_t cap) const {
  if (!ready()) return std::nullopt;
  HANDLE h = reinterpret_cast<HANDLE>(output_);
  std::string data;
  data.resize(cap);
  uint64_t have = 0;
  while (have < cap) {
    OVERLAPPED at{};
    at.Offset = DWORD(have);
    at.OffsetHigh = DWORD(have >> 32);
    DWORD chunk = DWORD(cap - have > (1u << 30) ? (1u << 30) : cap - have), got = 0;
    if (!ReadFile(h, data.data() + have, chunk, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return std::nullopt;
    }
    if (got == 0) break;
    have += got;
  }
  data.resize(have);
  return data;
}

run_result process_run_limited(const std::string& command_line, const std::string& work_dir,
                               run_files& files, uint32_t time_limit_ms, bool compile_mode) {
  if (!files.ready()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return not_started("run files");
  }
  HANDLE in_kept = reinterpret_cast<HANDLE>(files.input_handle());
  HANDLE out_kept = reinterpret_cast<HANDLE>(files.output_handle());
  if (!rewind_and_cut(out_kept, true) || !rewind_and_cut(in_kept, false))
    return not_started("SetEndOfFile");
  handle_guard in(for_child(in_kept, GENERIC_READ));
  handle_guard out(for_child(out_kept, GENERIC_WRITE));
  if (!in.valid() || !out.valid()) return not_started("DuplicateHandle");
  return run_with(command_line, work_dir, in.h, out.h, time_limit_ms, compile_mode);
}

// A job object is the whole confinement here; it has no counterpart of the Linux layers
// (system-call filter, path rules), so there is nothing finer to report as missing.
std::string sandbox_missing_layers() { return {}; }

// The job object bounds the processes; the folder itself has no bound of its own here.
bool work_folder_bound(const std::string&) { return false; }
bool work_folder_remove(const std::string& dir) { return dir_delete_tree(dir); }

std::optional<std::string> file_read_head(const std::string& path, uint64_t cap) {
  handle_guard f(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.valid()) return std::nullopt;
  std::string data;
  data.resize(cap);
  uint64_t have = 0;
  while (have < cap) {
    DWORD chunk = DWORD(cap - have > 1u << 30 ? 1u << 30 : cap - have), got = 0;
    if (!ReadFile(f.h, data.data() + have, chunk, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    have += got;
  }
  data.resize(have);
  return data;
}

uint32_t process_id() { return GetCurrentProcessId(); }

}  // namespace plat
