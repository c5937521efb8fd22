#include "server/comeback.h"

namespace vorlek {

namespace {

bool GivesStateBack(StatusWord restore, StatusWord reported, Restart restart) {
    if (restart == Restart::Ordered || restart == Restart::OrderedDone ||
        restore == ModeWord(ModeCommand::LogOff) || restore == ModeWord(ModeCommand::Reboot)) {
        return false;
    }
    return reported == ModeWord(StationState::AVAILABLE) ||
           (reported == ModeWord(StationState::BLOCKED) && restart == Restart::Unordered);
}

}  // namespace

ReportAnswer AnswerReport(StatusWord stored, StatusWord reported, Restart restart, bool offShown,
                          std::optional<StatusWord> granted) {
    const StatusWord had = stored & ~OffMark;
    ReportAnswer answer{reported, reported, std::nullopt, false, false};
    if ((stored & OffMark) != 0 && had != 0) {
        answer.announceOn = offShown;
        if (GivesStateBack(had & ~PausedFlag, reported, restart)) {
            answer.shown = granted.value_or(had) & ~PausedFlag;
            answer.command = answer.shown;
        }
    }
    // A PAUSED report names no seconds: the stored ones stay.
    answer.stored = answer.shown == ModeWord(StationState::PAUSED) ? had : answer.shown;
    // A restart the operator never saw leaves the stored state as what the operator knows.
    const StatusWord known = offShown ? stored : had;
    answer.announceBlocked =
        answer.shown == ModeWord(StationState::BLOCKED) && known != answer.shown;
    return answer;
}

}  // namespace vorlek
