// The schema, one migration per entry, applied in order and never edited once released:
// a change to the schema is a new entry at the end. The SQL is the common ground of
// SQLite and PostgreSQL, so both storages hold the same tables.
#pragma once

inline const char* const schema_migrations[] = {
    // 1: accounts, their sign-in tokens (hashes only) and one progress record each;
    // times in seconds since 1970, a token's in milliseconds (the newest sign-ins are kept)
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
    "  created_ms BIGINT NOT NULL);"
    "CREATE INDEX tokens_by_account ON tokens(account_id);"
    "CREATE TABLE progress ("
    "  account_id TEXT PRIMARY KEY REFERENCES accounts(id) ON DELETE CASCADE,"
    "  revision BIGINT NOT NULL,"
    "  state TEXT NOT NULL,"
    "  updated_at BIGINT NOT NULL);",
    // 2: names compared in their canonical form (filled in at start for older accounts),
    // the confusable skeleton of each name, sign-in attempts shared by every service
    // process (times in ms since 1970), and when each token was last used
    "ALTER TABLE accounts ADD COLUMN skeleton TEXT;"
    "CREATE INDEX accounts_by_skeleton ON accounts(skeleton);"
    "CREATE INDEX accounts_by_username ON accounts(username);"
    "CREATE TABLE signin_names ("
    "  name_hash TEXT PRIMARY KEY,"
    "  failures BIGINT NOT NULL,"
    "  last_ms BIGINT NOT NULL);"
    "CREATE INDEX signin_names_by_time ON signin_names(last_ms);"
    "CREATE TABLE signin_addresses ("
    "  address TEXT NOT NULL,"
    "  name_hash TEXT NOT NULL,"
    "  pending BIGINT NOT NULL,"
    "  failed BIGINT NOT NULL,"
    "  last_ms BIGINT NOT NULL,"
    "  PRIMARY KEY (address, name_hash));"
    "CREATE INDEX signin_addresses_by_time ON signin_addresses(last_ms);"
    "ALTER TABLE tokens ADD COLUMN used_ms BIGINT;",
};
