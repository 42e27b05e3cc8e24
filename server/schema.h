// The schema, one migration per entry, applied in order and never edited once released:
// a change to the schema is a new entry at the end. The SQL is the common ground of
// SQLite and PostgreSQL, so both storages hold the same tables.
#pragma once

inline const char* const schema_migrations[] = {
    // 1: accounts, their sign-in tokens (hashes only) and one progress record each
    "CREATE TABLE accounts ("
    "  id TEXT PRIMARY KEY,"
    "  username TEXT NOT NULL,"
    "  name_key TEXT NOT NULL UNIQUE,"
    "  password_hash TEXT NOT NULL,"
    "  recovery_hash TEXT NOT NULL,"
    "  created_at BIGINT NOT NULL);"
    "CREATE TABLE tokens ("
    "  token_hash TEXT PRIMARY KEY,"
    "  account_id TEXT NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
    "  created_at BIGINT NOT NULL);"
    "CREATE INDEX tokens_by_account ON tokens(account_id);"
    "CREATE TABLE progress ("
    "  account_id TEXT PRIMARY KEY REFERENCES accounts(id) ON DELETE CASCADE,"
    "  revision BIGINT NOT NULL,"
    "  state TEXT NOT NULL,"
    "  updated_at BIGINT NOT NULL);",
};
