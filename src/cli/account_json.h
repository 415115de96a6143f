// The page account of a data file as JSON: what `ravelin verify --json` reports for the file
// it reads and `ravelin recover --json` for each file it writes. docs/cli.md lists the fields.
#pragma once

#include <nlohmann/json.hpp>

#include "assembly/page_account.h"

namespace ravelin::cli {

nlohmann::json AccountJson(const PageAccount& account);

}  // namespace ravelin::cli
