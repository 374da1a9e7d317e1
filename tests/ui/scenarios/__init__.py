"""The window scenarios, one module each, in the order a whole run takes them. Each module has
a class Scenario whose method scenario_NAME (NAME as the module) is the scenario, and NEEDS, the
scenarios whose results it uses, if any."""
ORDER = ["welcome", "welcome_without_shell", "custom", "progress_and_questions", "disk_space",
         "error_labels", "high_dpi", "high_contrast", "real_install", "real_retry",
         "close_during_package", "planted_dlls", "keyboard_install", "keyboard_exit",
         "keyboard_custom", "keyboard_ring_dpi", "silent_install", "silent_resume", "uia_tree",
         "uia_actions"]
