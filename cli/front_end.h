#ifndef TARNWICK_CLI_FRONT_END_H
#define TARNWICK_CLI_FRONT_END_H

// The command line front end: dispatch on the first argument, build the
// settings in their fixed order, run one operation of the burn job.

#include <memory>

#include "jobs/burner_worker_factory.h"
#include "settings/burn_context.h"

namespace FrontEnd {

constexpr const char* VERSION = "1.0.0";
// Options start after the program name and the operation.
constexpr int EXTRA_START = 2;

// Whole run; the result is the process exit code.
int RunFrontEnd(int argc, char** argv);

void Help();
int Burn(int argc, char** argv);
int Erase(int argc, char** argv);
int Read(int argc, char** argv);

// Null when no job could be built; failure then tells why (the first refusal
// of the settings, as printed).
std::unique_ptr<BurnerWorkerBase> GetBurner(int argc, char** argv, Common::Outcome* failure = nullptr);
// 0 (SUCCESS), 1 (PARAM_ERROR) or 2 (LOAD_FILE_FAILED) after the failing step's message.
int InitBurnParam(int argc, char** argv, BurnInfo::BurnContext* context);
std::unique_ptr<BurnerWorkerBase> NewBurnerWorker(int chipType, std::unique_ptr<BurnInfo::BurnContext> context);

void ParseConfigParam(int argc, char** argv, BurnInfo::BurnContext* context);
bool ParseExtraParam(int argc, char** argv, BurnInfo::BurnContext* context);
// Each takes the option at optionIndex and its value at valueIndex (< argc).
bool ParseExtraBasicParam(int argc, char** argv, BurnInfo::BurnContext* context, int valueIndex, int optionIndex);
bool ParseExtraSerialParam(char** argv, BurnInfo::BurnContext* context, int valueIndex, int optionIndex);
void ParseExtraSocketParam(char** argv, BurnInfo::BurnContext* context, int valueIndex, int optionIndex);
// The mode is argv[index]; serial also takes the port name from argv[index + 1].
bool ParseTransportWay(int argc, int index, char** argv, BurnInfo::BurnContext* context);

} // namespace FrontEnd

#endif
