#include "keychain_module.h"

#include <qt6keychain/keychain.h>

using namespace KeychainModule;

extern "C" __attribute__((visibility("default"))) void
kestrune_keychain_start(const Request& request, Done done)
{
    QKeychain::Job* job = nullptr;
    switch (request.kind) {
    case Kind::Read:
        job = new QKeychain::ReadPasswordJob(request.service);
        break;
    case Kind::Write: {
        auto* write = new QKeychain::WritePasswordJob(request.service);
        write->setTextData(request.password);
        job = write;
        break;
    }
    case Kind::Remove:
        job = new QKeychain::DeletePasswordJob(request.service);
        break;
    }
    job->setInsecureFallback(false);
    job->setKey(request.key);
    // No parent: the keychain's backends hold on to a job until their answer comes.
    job->setAutoDelete(true);
    QObject::connect(
        job, &QKeychain::Job::finished, job,
        [kind = request.kind, done = std::move(done)](QKeychain::Job* finished) {
            switch (finished->error()) {
            case QKeychain::NoError:
                done(Answer::Done,
                     kind == Kind::Read
                         ? static_cast<QKeychain::ReadPasswordJob*>(finished)->textData()
                         : QString());
                break;
            case QKeychain::EntryNotFound:
                done(Answer::NotFound, {});
                break;
            default:
                done(Answer::Failed, {});
                break;
            }
        });
    job->start();
}
