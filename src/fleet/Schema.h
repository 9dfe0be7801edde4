#pragma once
// The collector's store, defined once: the writer migrates a store to it
// step by step, the reader checks which version it reads. Plain SQL that
// SQLite and PostgreSQL both take.

#include <string>
#include <vector>

namespace zrv::fleet {

// The schema version this program writes and reads.
inline constexpr int kSchemaVersion = 5;

// One row per version a store has been brought to: made when missing, asked
// for its highest, and a row added after each step.
inline constexpr char kCreateSchemaTable[] = "CREATE TABLE IF NOT EXISTS zrv_schema (version INTEGER NOT NULL)";
inline constexpr char kSchemaVersionQuery[] = "SELECT MAX(version) FROM zrv_schema";
inline constexpr char kAddSchemaVersion[] = "INSERT INTO zrv_schema (version) VALUES (?)";

// The statements that bring a store from version i to i + 1, for i from 0.
const std::vector<std::vector<std::string>>& schemaSteps();

// "схема базы версии 3 новее этой программы (2)": why a writer leaves a
// store alone.
std::string newerSchemaText(long long version);

}  // namespace zrv::fleet
