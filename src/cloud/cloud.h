// The account and progress-sync client: the /api/cloud/ endpoints of the local API.
#pragma once

// Reads the configured service address and a stored sign-in; before any other thread exists.
void cloud_init();
// One /api/cloud/ request (method and path as received, body "" when none). Returns a malloc'ed
// JSON text to send with status 200, or nullptr for the local API's not-found answer.
// Cloud requests run one at a time under cloud_lock (taken before store_lock, never after).
char* cloud_handle(const char* method, const char* path, const char* body);
