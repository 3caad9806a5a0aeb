#include "engine/engine.h"

#include <exception>
#include <new>
#include <string>

#include "engine/executor.h"
#include "engine/messages.h"
#include "engine/parser.h"
#include "engine/storage.h"

namespace tdslite {

struct Engine::Impl {
    std::unique_ptr<detail::Storage> storage;
};

std::unique_ptr<Engine> Engine::Open(const std::string& sqlite_path, std::string* error) {
    auto storage = detail::Storage::Open(sqlite_path, error);
    if (!storage) return nullptr;
    std::unique_ptr<Engine> engine(new Engine());
    engine->impl_ = std::make_unique<Impl>();
    engine->impl_->storage = std::move(storage);
    return engine;
}

Engine::~Engine() = default;

std::vector<StatementResult> Engine::ExecuteBatch(std::string_view batch) {
    return ExecuteBatch(batch, "master");
}

std::vector<StatementResult> Engine::ExecuteBatch(std::string_view batch,
                                                  std::string_view database) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<StatementResult> results;
    try {
        std::vector<detail::Statement> statements;
        std::vector<Message> errors;
        if (!detail::ParseBatch(batch, statements, errors)) {
            StatementResult r;
            r.failed = true;
            r.messages = std::move(errors);
            results.push_back(std::move(r));
            return results;
        }
        detail::Executor executor(*impl_->storage, std::string(database));
        for (detail::Statement& st : statements) {
            bool abort_batch = false;
            results.push_back(executor.Run(st, &abort_batch));
            if (abort_batch) break;
        }
    } catch (const std::bad_alloc&) {
        impl_->storage->Rollback();
        StatementResult r;
        r.failed = true;
        r.messages.push_back(detail::msg::OutOfMemory());
        results.push_back(std::move(r));
    } catch (const std::exception& e) {
        impl_->storage->Rollback();
        StatementResult r;
        r.failed = true;
        r.messages.push_back(
            detail::msg::Make(50000, 16, 1, std::string("Internal error: ") + e.what()));
        results.push_back(std::move(r));
    }
    return results;
}

}  // namespace tdslite
