#pragma once

#include "tool/ToolFrame.h"

// Each command of pradix-tool; the command table in ToolFrame.cpp names them.
namespace tool {

int runShow(const Invocation& invocation);
int runDiff(const Invocation& invocation);
int runExport(const Invocation& invocation);
int runImport(const Invocation& invocation);
int runPdf(const Invocation& invocation);
int runBookList(const Invocation& invocation);
int runBookShow(const Invocation& invocation);
int runBookExport(const Invocation& invocation);
int runRead(const Invocation& invocation);
int runWrite(const Invocation& invocation);
int runVerify(const Invocation& invocation);
int runRemoteRead(const Invocation& invocation);
int runRemoteWrite(const Invocation& invocation);
int runAuditRun(const Invocation& invocation);
int runAuditReport(const Invocation& invocation);
int runAuditStatus(const Invocation& invocation);
int runHistory(const Invocation& invocation);

} // namespace tool
