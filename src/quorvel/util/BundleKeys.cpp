#include "quorvel/util/BundleKeys.h"

#include "quorvel/util/Bundle.h"

#include <mutex>
#include <utility>

namespace quorvel::util {

const std::vector<BundleKeys::Key>& BundleKeys::required() {
    static const std::vector<Key> keys = {
        // Reading worker
        {Bundle::WORKER, "null.port.error"},
        {Bundle::WORKER, "port.opened"},
        {Bundle::WORKER, "parity.error"},
        {Bundle::WORKER, "framing.error"},
        {Bundle::WORKER, "unsent.data"},
        {Bundle::WORKER, "reading.overload"},
        {Bundle::WORKER, "reading.underload"},
        {Bundle::WORKER, "reading.out.of.range"},
        {Bundle::WORKER, "reading.error"},
        {Bundle::WORKER, "reading.not.ready"},
        {Bundle::WORKER, "reading.compound"},
        {Bundle::WORKER, "reading.unstable.skipped"},
        {Bundle::WORKER, "line.end.missing"},
        {Bundle::WORKER, "request.failed"},
        {Bundle::WORKER, "stopped"},
        {Bundle::WORKER, "interrupted"},
        {Bundle::WORKER, "execution.exception"},
        {Bundle::WORKER, "device.back.unopened"},
        {Bundle::WORKER, "server.unanswered"},
        {Bundle::WORKER, "warning"},
        {Bundle::WORKER, "and.error.unusual"},
        {Bundle::WORKER, "and.error.dataset.not.ready"},
        {Bundle::WORKER, "and.error.not.connected"},
        // Reading, as shown by the main window
        {Bundle::TOLVANE, "invalid.setting"},
        {Bundle::TOLVANE, "error.opening.port"},
        {Bundle::TOLVANE, "invalid.network.port.0.1"},
        {Bundle::TOLVANE, "port.in.use.what.to.do"},
        {Bundle::TOLVANE, "port.permission.what.to.do"},
        {Bundle::TOLVANE, "port.missing.what.to.do"},
        {Bundle::TOLVANE, "port.network.what.to.do"},
        {Bundle::TOLVANE, "port.open.what.to.do"},
        {Bundle::TOLVANE, "line.count"},
        {Bundle::TOLVANE, "connection.to.0.lost"},
        {Bundle::TOLVANE, "waiting.for.0"},
        {Bundle::TOLVANE, "waiting.for.server.0"},
        {Bundle::TOLVANE, "device.0.back"},
        // Number formatting
        {Bundle::TOLVANE, "please.enter.number.of.decimal.places.for.rounding.or.disable.division"},
        // Keystroke output
        {Bundle::TOLVANE, "error.initializing.keyboard.output"},
        {Bundle::TOLVANE, "keyboard.output.what.to.do"},
        {Bundle::TOLVANE, "keyboard.output.portal.asks"},
        {Bundle::TOLVANE, "keyboard.output.through"},
        {Bundle::WORKER, "cannot_type"},
        {Bundle::TOLVANE, "please.turn.off.caps.lock"},
        {Bundle::TOLVANE, "warning"},
        // Sound
        {Bundle::TOLVANE, "sound.output.error"},
        {Bundle::TOLVANE, "error.while.initializing.sound.output"},
        // Port auto-detection
        {Bundle::WORKER, "auto.port.detection.started"},
        {Bundle::WORKER, "testing.port.0"},
        {Bundle::WORKER, "confidence"},
        {Bundle::WORKER, "best.port"},
        {Bundle::WORKER, "could.not.auto.detect.port"},
        // Update check
        {Bundle::TOLVANE, "checking.for.update"},
        {Bundle::TOLVANE, "update.check.failed"},
        {Bundle::TOLVANE, "update.available"},
        {Bundle::TOLVANE, "update.available.no.link"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.statusJLabel.text"},
        // Settings load, export and import
        {Bundle::TOLVANE, "error.while.loading.settings"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.exportSettingsButton.text"},
        {Bundle::TOLVANE, "file.already.exists.overwrite"},
        {Bundle::TOLVANE, "overwrite"},
        {Bundle::TOLVANE, "configuration.exported.to.file.n"},
        {Bundle::TOLVANE, "export.successful"},
        {Bundle::TOLVANE, "export.failed"},
        {Bundle::TOLVANE, "error"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.importSettingsButton.text"},
        // Connect mode
        {Bundle::CONFIG, "manual"},
        {Bundle::CONFIG, "auto"},
        // Instrument labels and notes
        {Bundle::CONFIG, "generic"},
        {Bundle::CONFIG, "barcode_numeric"},
        {Bundle::CONFIG, "barcode_alphanumeric"},
        {Bundle::CONFIG, "barcode_alphanumeric_complete"},
        {Bundle::CONFIG, "adam_azextra_weight"},
        {Bundle::CONFIG, "adam_gbc_gfc_weight"},
        {Bundle::CONFIG, "adam_gbc_gfc_pcs"},
        {Bundle::CONFIG, "generic.defaultMessage"},
        {Bundle::CONFIG, "barcode_numeric.defaultMessage"},
        {Bundle::CONFIG, "barcode_alphanumeric.defaultMessage"},
        {Bundle::CONFIG, "barcode_alphanumeric_complete.defaultMessage"},
        {Bundle::CONFIG, "aandd.em.defaultmessage"},
        {Bundle::CONFIG, "adam_azextra.defaultMessage"},
        {Bundle::CONFIG, "adam_cbk.defaultMessage"},
        {Bundle::CONFIG, "adam_cpwplus.defaultMessage"},
        {Bundle::CONFIG, "adam_hcb.defaultMessage"},
        {Bundle::CONFIG, "myweigh_hd.defaultMessage"},
        {Bundle::CONFIG, "toledo_continuous.defaultMessage"},
        {Bundle::CONFIG, "radwag.defaultMessage"},
        {Bundle::CONFIG, "shimadzu.defaultMessage"},
        {Bundle::CONFIG, "st_gs_indicator.defaultMessage"},
        {Bundle::CONFIG, "rinstrum.defaultMessage"},
        {Bundle::CONFIG, "nci.defaultMessage"},
        {Bundle::CONFIG, "fairbanks.defaultMessage"},
        {Bundle::CONFIG, "kern_ew.defaultMessage"},
        {Bundle::CONFIG, "sartorius.defaultMessage"},
        // Start and terminator keys, sounds
        {Bundle::CONFIG, "key.none"},
        {Bundle::CONFIG, "enter"},
        {Bundle::CONFIG, "tab"},
        {Bundle::CONFIG, "right"},
        {Bundle::CONFIG, "down"},
        {Bundle::CONFIG, "delete"},
        {Bundle::CONFIG, "sound.none"},
        {Bundle::TOLVANE, "terminator.must.be.between.0.and.255"},
        {Bundle::TOLVANE, "error.intercharacter.delay"},
        // Number settings
        {Bundle::CONFIG, "math.none"},
        {Bundle::CONFIG, "multiply"},
        {Bundle::CONFIG, "divide"},
        {Bundle::CONFIG, "dot"},
        {Bundle::CONFIG, "comma"},
        {Bundle::TOLVANE, "error.math.operand"},
        {Bundle::TOLVANE, "error.decimal.places"},
        {Bundle::TOLVANE, "invalid.expression"},
        // Edit and ignore settings
        {Bundle::CONFIG, "edit.remove"},
        {Bundle::CONFIG, "edit.keep"},
        {Bundle::CONFIG, "edit.first"},
        {Bundle::CONFIG, "edit.last"},
        {Bundle::TOLVANE, "error.edit.numCharacters"},
        {Bundle::TOLVANE, "error.edit.removeCharacters"},
        {Bundle::TOLVANE, "ignore.error"},
        // Keyboard layouts
        {Bundle::CONFIG, "keyboardType.default"},
        {Bundle::CONFIG, "keyboardType.us_international"},
        {Bundle::CONFIG, "keyboardType.azerty"},
        {Bundle::CONFIG, "keyboardType.german"},
        // Main window layout
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.aboutPane.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.panel1.tab.title"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.inputPanel.tab.title"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.processingPanel.tab.title"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.outputPanel.tab.title"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.settingsPanel.tab.title"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.eventLogPanel.tab.title"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.aboutPanel.tab.title"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label2.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.portList.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.deviceLabel.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.instrumentBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label3.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.bitRateBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label6.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label7.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label8.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label9.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.inputTerminatorBox.prototypeDisplayValue"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.inputTerminatorBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label10.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.autoButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.autoButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.defaultButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.defaultButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.refreshPortsButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.refreshPortsButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.customizeButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.customizeButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.reconnectCheckBox.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.reconnectCheckBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label24.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.mathOperationBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label25.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.mathOperandTextField.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label15.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label16.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.decimalTextField.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label20.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label22.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.roundingMethodBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label29.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label30.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.editNumCharactersTextField.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label32.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.removeCharactersTextField.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.stableOnlyCheckBox.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.stableOnlyCheckBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.stableOnlyCheckBox.noMark"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.ignoreDuplicatesCheckBox.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.adjustIgnoreButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label4.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.decimalSeparatorBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label5.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.outputTerminatorBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label17.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.soundComboBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label23.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.keyboardTypeBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label12.text_2"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.startWithBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label26.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label27.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.delayTextField.toolTipText"},
        // Asking the instrument for readings
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.requestReadingButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.requestReadingButton.toolTipText"},
        {Bundle::TOLVANE, "request.no.command"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.requestIntervalLabel.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.requestIntervalTextField.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.requestCommandLabel.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.requestCommandTextField.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.requestHotkeyLabel.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.requestHotkeyTextField.toolTipText"},
        {Bundle::TOLVANE, "error.request.interval"},
        {Bundle::TOLVANE, "error.request.command"},
        {Bundle::TOLVANE, "error.request.hotkey"},
        {Bundle::TOLVANE, "request.hotkey.active"},
        {Bundle::TOLVANE, "request.hotkey.not.available"},
        {Bundle::TOLVANE, "request.hotkey.taken"},
        {Bundle::TOLVANE, "request.hotkey.no.key"},
        {Bundle::TOLVANE, "request.hotkey.failed"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.label13.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.manualConnectButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.manualConnectButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.autoConnectButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.autoConnectButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.abortAutoStartCheckBox.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.abortAutoStartCheckBox.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.minimizeToTrayCheckBox.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.notifyWhenMinimizedToTrayCheckBox.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.checkForUpdatesCheckBox.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.importSettingsButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.exportSettingsButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.valueLogLabel.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.valueLogTextField.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.valueLogButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.valueLogButton.toolTipText"},
        {Bundle::TOLVANE, "error.value.log"},
        {Bundle::TOLVANE, "value.log.recording.to.0"},
        {Bundle::TOLVANE, "value.log.not.written.0.because.1"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.startStopJButton.text"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.startStopJButton.toolTipText"},
        {Bundle::TOLVANE, "ZoviziDeZizFrame2.startStopJButton.textStop"},
        {Bundle::TOLVANE, "switch.to.target.application"},
        {Bundle::TOLVANE, "internal.error"},
        // Main window actions
        {Bundle::TOLVANE, "error.listing.available.ports"},
        {Bundle::TOLVANE, "fatal.error"},
        {Bundle::TOLVANE, "library.skwin.not.found.or.not.matching.your.system"},
        {Bundle::TOLVANE, "program.will.now.exit"},
        {Bundle::TOLVANE, "no.rs.232.port.found.on.your.system.program.will.now.exit"},
        {Bundle::TOLVANE, "access.error.while.loading.settings"},
        {Bundle::TOLVANE, "invalid.settings.replaced.by.defaults"},
        {Bundle::TOLVANE, "previously.used.port.0.no.longer.available.naborting.auto.start"},
        {Bundle::TOLVANE, "keyboard.output.started.type"},
        {Bundle::TOLVANE, "no.default.values.available.for.this.device"},
        {Bundle::TOLVANE, "autosave.error"},
        {Bundle::TOLVANE, "cancelled.by.user"},
        {Bundle::TOLVANE, "minimized.to.system.tray"},
        {Bundle::TOLVANE, "access.error.while.saving.settings"},
        {Bundle::TOLVANE, "settings.not.saved.because.0.folder.1"},
        // Ignore dialog
        {Bundle::TOLVANE, "IgnoreDialog.this.title"},
        {Bundle::TOLVANE, "IgnoreDialog.label2.text"},
        {Bundle::TOLVANE, "IgnoreDialog.ignoreTimeLimitTextField.toolTipText"},
        {Bundle::TOLVANE, "IgnoreDialog.label3.text"},
        {Bundle::TOLVANE, "IgnoreDialog.ignoreDifferenceTextField.toolTipText"},
        {Bundle::TOLVANE, "IgnoreDialog.cancelButton.text"},
        // Custom pattern dialog
        {Bundle::TOLVANE, "CustomRegExDialog.this.title"},
        {Bundle::TOLVANE, "CustomRegExDialog.label2.text"},
        {Bundle::TOLVANE, "CustomRegExDialog.label3.text"},
        {Bundle::TOLVANE, "CustomRegExDialog.label4.text"},
        {Bundle::TOLVANE, "CustomRegExDialog.cancelButton.text"},
    };
    return keys;
}

namespace {

std::mutex extraKeysLock;
std::vector<BundleKeys::Key> extraKeys;

}  // namespace

void BundleKeys::setExtraKeysForTesting(std::vector<Key> keys) {
    const std::lock_guard<std::mutex> lock(extraKeysLock);
    extraKeys = std::move(keys);
}

QStringList BundleKeys::missing() {
    std::vector<Key> keys = required();
    {
        const std::lock_guard<std::mutex> lock(extraKeysLock);
        keys.insert(keys.end(), extraKeys.begin(), extraKeys.end());
    }
    QStringList gaps;
    for (const Key& k : keys) {
        if (!Bundle::named(QLatin1String(k.bundle)).contains(QLatin1String(k.key))) {
            gaps << QStringLiteral("%1: %2").arg(QLatin1String(k.bundle), QLatin1String(k.key));
        }
    }
    return gaps;
}

}  // namespace quorvel::util
