// Progress routes: read the record, and write it by compare-and-set on its revision.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "json/text_buffer.h"
#include "service_internal.h"

namespace {

std::string progress_text(const std::string& revision, const std::string& state, const char* error) {
  std::string out;
  out.reserve(state.size() + 128);
  out += "{";
  if (error) {
    cstr e(json_error(error));
    out.append(e.get() + 1, std::strlen(e.get()) - 2);
    out += ",";
  }
  out += "\"revision\":" + revision + ",\"state\":" + state + "}";
  return out;
}


// A JSON integer without fraction or exponent; -1 for negative ones and ones beyond what a
// revision can reach (they never match a stored revision); nullopt when it is not an integer.
std::optional<long long> revision_of(const json_doc* doc, int at) {
  if (at < 0 || doc->tokens[at].type != 'p') return std::nullopt;
  std::string_view raw(doc->text + doc->tokens[at].start,
                       static_cast<size_t>(doc->tokens[at].end - doc->tokens[at].start));
  bool negative = !raw.empty() && raw[0] == '-';
  std::string_view digits = negative ? raw.substr(1) : raw;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  if (digits.size() > 1 && digits[0] == '0') return std::nullopt;  // JSON has no leading zeros
  if (digits.size() > 18) return -1;
  long long v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return negative && v ? -1 : v;
}

// Progress writes are committed in groups: whoever finds no commit under way takes every
// waiting write into one transaction, so one disk sync acknowledges many learners. Each
// write is still its own compare-and-set, judged in arrival order, and nobody is answered
// before the commit that holds their write is durable.
struct put_job {
  std::string account;
  long long revision = 0;
  std::string_view state;
  int status = 0;  // 200, 409, or 503 when the group could not be committed
  std::string current_revision, current_state;
  bool done = false;
};

std::mutex put_lock;
std::condition_variable put_finished;
std::vector<put_job*> put_queue;
bool put_committing = false;
constexpr size_t put_group_max = 256;

bool run_put_group(std::vector<put_job*> group) {
  // Rows are locked in the order of their account ids, so groups of several service
  // processes on one PostgreSQL database cannot deadlock; writes to one account keep
  // their arrival order.
  std::stable_sort(group.begin(), group.end(), [](const put_job* a, const put_job* b) { return a->account < b->account; });
  db_lease l(svc->db);
  db_tx tx(l.conn, true);
  if (!tx.open) return false;
  std::string now = unix_now();
  for (put_job* j : group) {
    std::string rev = std::to_string(j->revision);
    db_result r = db_query(l.conn,
        "UPDATE progress SET revision = revision + 1, state = $1, updated_at = $2 "
        "WHERE account_id = $3 AND revision = $4", {j->state, now, j->account, rev});
    if (!r.ok()) return false;
    if (r.changes == 1) {
      j->status = 200;
      continue;
    }
    r = db_query(l.conn, "SELECT revision, state FROM progress WHERE account_id = $1", {j->account});
    if (!r.ok()) return false;
    if (r.rows.empty() || !r.rows[0][0] || !r.rows[0][1]) {
      // An account without a record (restored from an old back-up, say) starts at 0.
      if (j->revision == 0) {
        if (!db_query(l.conn, "INSERT INTO progress (account_id, revision, state, updated_at) VALUES ($1, 1, $2, $3)",
                      {j->account, j->state, now}).ok())
          return false;
        j->status = 200;
        continue;
      }
      r.rows = {{std::string("0"), std::string("{}")}};
    }
    j->status = 409;
    j->current_revision = std::move(*r.rows[0][0]);
    j->current_state = std::move(*r.rows[0][1]);
  }
  return tx.commit();
}

void submit_put(put_job* job) {
  std::unique_lock<std::mutex> g(put_lock);
  put_queue.push_back(job);
  while (!job->done) {
    if (put_committing) {
      put_finished.wait(g);
      continue;
    }
    put_committing = true;
    size_t n = std::min(put_queue.size(), put_group_max);
    std::vector<put_job*> group(put_queue.begin(), put_queue.begin() + static_cast<long>(n));
    put_queue.erase(put_queue.begin(), put_queue.begin() + static_cast<long>(n));
    g.unlock();
    bool ok = false;
    try {
      ok = run_put_group(group);
    } catch (...) {
      ok = false;
    }
    g.lock();
    for (put_job* j : group) {
      if (!ok) j->status = 503;
      j->done = true;
    }
    put_committing = false;
    put_finished.notify_all();
  }
}
}  // namespace

void do_progress_get(const httplib::Request& req, httplib::Response& res) {
  auto account = signed_in(req, res);
  if (!account) return;
  db_lease l(svc->db);
  db_result r = db_query(l.conn, "SELECT revision, state FROM progress WHERE account_id = $1", {*account});
  if (!r.ok()) return fail(res, 503, msg::storage);
  if (r.rows.empty() || !r.rows[0][0] || !r.rows[0][1]) return answer(res, 200, "{\"revision\":0,\"state\":{}}");
  answer(res, 200, progress_text(*r.rows[0][0], *r.rows[0][1], nullptr));
}

void do_progress_put(const httplib::Request& req, httplib::Response& res) {
  auto account = signed_in(req, res);
  if (!account) return;
  json_doc doc;
  if (!parse_body(req, res, &doc, msg::state_too_large)) return;
  auto revision = revision_of(&doc, j_get(&doc, 0, "revision"));
  if (!revision) return fail(res, 400, msg::bad_revision);
  int at = j_get(&doc, 0, "state");
  if (at < 0 || doc.tokens[at].type != 'o') return fail(res, 400, msg::bad_state);
  put_job job;
  job.account = *account;
  job.revision = *revision;
  job.state = std::string_view(doc.text + doc.tokens[at].start,
                               static_cast<size_t>(doc.tokens[at].end - doc.tokens[at].start));
  if (job.state.size() > state_limit) return fail(res, 413, msg::state_too_large);
  submit_put(&job);
  if (job.status == 200) return answer(res, 200, "{\"revision\":" + std::to_string(*revision + 1) + "}");
  if (job.status == 409) return answer(res, 409, progress_text(job.current_revision, job.current_state, msg::stale));
  fail(res, 503, msg::storage);
}

