#pragma once

namespace zq::cli
{

// The version of the JSON lines zqprog prints (docs/zqprog-json.md), in every object as
// "schemaVersion". It changes when a key is removed or changes its type or meaning; new keys
// may appear without a change.
constexpr int kJsonSchemaVersion = 1;

} // namespace zq::cli
