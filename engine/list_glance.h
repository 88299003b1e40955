// ListGlance: what the technician reads of a long device list at a glance, and which rows the view
// shows.
//
// - Counts: 全部 and one count per status of the status table (engine/device_status), under the
//   table's own texts, kept up to date row change by row change (no pass over the list per change).
// - The run line "已完成 x/N，失败 f，剩余 r，预计 mm:ss" from the counts at the run's start and now,
//   the estimate from the rate observed so far (runLineText is pure; the clock is injectable).
// - The view filter: one status, or a search text matched against the IP address and the serial
//   number. It only decides which rows a view shows; checks, selection and what a run upgrades are
//   the list's and are never touched here.
//
// An observer of one DeviceList, on the list's thread. Front ends are told through two callbacks:
// counts changed (cheap to call often: coalesce the repaint) and rows whose visibility may have
// changed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/device_list.h"

namespace glancetext {
inline constexpr char kAll[] = "全部";
inline constexpr char kSearchHint[] = "搜索IP或序列号";
}  // namespace glancetext

// One piece of the status line: code -1 is 全部 (every row).
struct StatusCount {
    int code = -1;
    std::string text;  // UTF-8
    int count = 0;
};

// A run as the run line tells it.
struct RunLine {
    int total = 0;     // devices the run set out to upgrade
    int finished = 0;  // devices whose run is over, whatever the outcome
    int failed = 0;    // of those, 升级失败
    int64_t elapsedMs = 0;
};

// "mm:ss" (minutes past 59 keep counting); negative as 0.
std::string minutesSecondsText(int64_t milliseconds);
// "已完成 x/N，失败 f，剩余 r，预计 mm:ss"; the estimate is the remaining devices at the rate seen so
// far, "--:--" before the first device finished.
std::string runLineText(const RunLine& line);

struct ListFilter {
    int status = -1;     // a status code; -1: every status
    std::string search;  // UTF-8; empty: every row. Part of the IP or serial number, case-insensitive
    bool operator==(const ListFilter&) const = default;
};

// Whether a row passes the filter (status by the status column's text).
bool rowPassesFilter(const ListRow& row, const ListFilter& filter);

class ListGlance : private DeviceListObserver {
  public:
    using Clock = std::function<int64_t()>;  // milliseconds of a monotonic clock
    // The list must outlive the glance. An empty clock uses the steady clock.
    explicit ListGlance(DeviceList& list, Clock clock = {});
    ~ListGlance() override;
    ListGlance(const ListGlance&) = delete;
    ListGlance& operator=(const ListGlance&) = delete;

    // Called after the counts changed (any number of times per row change: coalesce the repaint).
    void setOnCountsChanged(std::function<void()> callback) { onCounts_ = std::move(callback); }
    // Called with rows [first, last] whose visibility may have changed (a filter change, a row's
    // status, IP or serial number). Rows inserted, sorted or reset are not reported: a view asks rowVisible
    // for them once it has taken the insertion or the sort itself.
    void setOnVisibilityChanged(std::function<void(int first, int last)> callback) {
        onVisibility_ = std::move(callback);
    }

    int total() const { return static_cast<int>(codes_.size()); }
    int count(int code) const;  // rows showing that status; 0 for a code outside the table
    // 全部 first, then each status of the table with at least one row, in the table's order.
    std::vector<StatusCount> counts() const;

    // The run: beginRun when 升级 starts a run (the ticked 已连接 rows are the run's devices),
    // endRun when the run has ended.
    void beginRun();
    void endRun();
    bool running() const { return running_; }
    RunLine runLine() const;

    void setFilter(const ListFilter& filter);
    const ListFilter& filter() const { return filter_; }
    bool filtering() const { return filter_.status >= 0 || !filter_.search.empty(); }
    bool rowVisible(int row) const;
    int visibleCount() const { return visibleCount_; }

  private:
    void listReset() override;
    void rowsInserted(int first, int last) override;
    void rowsAboutToBeRemoved(int first, int last) override;
    void rowsRemoved(int first, int last) override;
    void cellsChanged(int row, int firstColumn, int lastColumn) override;
    void rowsSorted(int column, bool ascending, const std::vector<int>& newToOld) override;

    void rebuild();
    void add(int code, int delta);
    bool judge(int row) const;
    void setVisible(int row, bool visible);
    void countsChanged();
    void visibilityChanged(int first, int last);

    DeviceList& list_;
    Clock clock_;
    std::vector<int> codes_;     // per row: its status code, -1 none
    std::vector<char> visible_;  // per row: passes the filter
    std::vector<int> counts_;    // per status code
    std::vector<int> runBase_;   // counts_ when the run began
    int runTotal_ = 0;
    int64_t runStartMs_ = 0;
    bool running_ = false;
    int visibleCount_ = 0;
    ListFilter filter_;
    std::function<void()> onCounts_;
    std::function<void(int, int)> onVisibility_;
};
