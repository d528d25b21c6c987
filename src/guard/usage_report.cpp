#include "guard/usage_report.h"

#include "engine/usage_recorder.h"

namespace dadado {

UsageReport MakeUsageReport(const FileContent& history, const std::string& path, const std::vector<UsageDay>& kept,
                            std::optional<bool> recording) {
  UsageReport r;
  if (history.status == ReadStatus::kError) {
    // Under the guard the file is the service's: administrators may read it.
    r.exit_code = 3;
    r.err = "无法读取使用记录：" + path + "\r\n只有管理员可以读取守护服务记录的使用时间（请以管理员身份运行），或者文件正被其他程序占用。\r\n";
    return r;
  }
  const bool counted = recording.value_or(true) && !kept.empty();
  if (history.status == ReadStatus::kMissing && !counted) {
    r.exit_code = 1;
    r.err = "没有使用记录：“记录使用时间”没有开启。\r\n";
    return r;
  }
  UsageHistory h = UsageHistory::Parse(history.status == ReadStatus::kOk ? history.bytes : std::string());
  if (recording.value_or(true))
    for (const UsageDay& day : kept) AddDay(h, day);
  r.out = h.Text();
  return r;
}

}  // namespace dadado
