#include "sim/scsi/model_errors.h"

#include <sstream>

namespace quell::sim::scsi {

std::string ModelError::ToString() const {
    std::ostringstream out;
    out << "[" << time << " ns] " << source << ": " << message;
    return out.str();
}

void ModelErrors::Report(std::string source, std::string message) {
    errors_.push_back(ModelError{clock_.Now(), std::move(source), std::move(message)});
    if (throw_on_error_) {
        throw ModelErrorException(errors_.back());
    }
}

std::string ModelErrors::Summary() const {
    std::string out;
    for (const auto& error : errors_) {
        out += error.ToString();
        out += '\n';
    }
    return out;
}

}  // namespace quell::sim::scsi
