#pragma once

// What a widget reports at the end of an update that the widget host asked for.
enum class NCUpdateResult {
    NewData,
    NoData,
    Failed,
};
